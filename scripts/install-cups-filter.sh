#!/usr/bin/env bash
# Sets the system's CUPS print server up to print Quillard reports on every
# queue, from a build of the tree: puts the filter quillardtopdf into the
# server's ServerBin and its MIME files into the mime folder of its DataDir
# (where the package puts them), then has the system's cupsd read them again.
#   scripts/install-cups-filter.sh [--root DIR] [FILTER]   (default: build/quillardtopdf)
#     --root DIR   install into the tree DIR as if it were / (the server's
#                  configuration, the packages' database and the PID file are
#                  read there too); systemd is not asked, and only the cupsd
#                  whose PID the tree's PID file holds is told to reload.
# Clients then print with
#   lp -d QUEUE -o document-format=application/vnd.quillard-report report.txt
# When the package is installed its filter is in place already: the script
# replaces no file a package owns, and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: $0 [--root DIR] [FILTER]" >&2; exit 2; }
root=
filter=
while [ $# -gt 0 ]; do
  case $1 in
    --root) [ $# -ge 2 ] || usage; root=$2; shift 2 ;;
    --root=*) root=${1#--root=}; shift ;;
    -h|--help) usage ;;
    -*) echo "unknown option $1" >&2; usage ;;
    *) [ -z "$filter" ] || usage; filter=$1; shift ;;
  esac
done
if [ -n "$root" ]; then
  [ -d "$root" ] || { echo "no folder $root to install into" >&2; exit 1; }
  root=$(cd "$root" && pwd)
  [ "$root" != / ] || root=
fi
filter=${filter:-build/quillardtopdf}
[ -x "$filter" ] || { echo "no filter program at $filter: build it first (scripts/setup.sh)" >&2; exit 1; }

# The server's folders: what its cups-files.conf names, else what the CUPS
# library was built with, else the usual places.
serverroot=$(cups-config --serverroot 2>/dev/null || echo /etc/cups)
files_conf="$root$serverroot/cups-files.conf"
configured() {  # configured DIRECTIVE DEFAULT
  local value=
  [ -r "$files_conf" ] && value=$(awk -v d="$1" '$1 == d && NF >= 2 { v = $2 } END { print v }' "$files_conf")
  echo "${value:-$2}"
}
serverbin=$(configured ServerBin "$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)")
datadir=$(configured DataDir "$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)")
statedir=$(configured StateDir /run/cups)
targets=("$serverbin/filter/quillardtopdf" "$datadir/mime/quillard.types" "$datadir/mime/quillard.convs")

# A file a package installed stays the package's: dpkg would put it back,
# or remove it with the package, behind the administrator's back.
admindir="$root/var/lib/dpkg"
if command -v dpkg-query >/dev/null && [ -d "$admindir" ]; then
  for target in "${targets[@]}"; do
    if owner=$(dpkg-query --admindir="$admindir" -S "$target" 2>/dev/null); then
      echo "$target belongs to the package ${owner%%:*}: nothing is installed over it." >&2
      echo "Remove the package first (apt remove ${owner%%:*}) to use the filter of this build." >&2
      exit 1
    fi
  done
fi

owner_args=()
[ -n "$root" ] || owner_args=(-o root -g root)
install -D -m 0755 "${owner_args[@]}" "$filter" "$root${targets[0]}"
install -D -m 0644 "${owner_args[@]}" packaging/quillard.types "$root${targets[1]}"
install -D -m 0644 "${owner_args[@]}" packaging/quillard.convs "$root${targets[2]}"
echo "quillardtopdf installed in $root$serverbin/filter; MIME files in $root$datadir/mime"

# Only the system's cupsd reads them again (another user's or a test's
# private cupsd is none of this script's business): systemd's cups service,
# else the cupsd whose PID is in the server's PID file.
if [ -z "$root" ] && [ -d /run/systemd/system ] && systemctl is-active --quiet cups 2>/dev/null; then
  systemctl reload-or-restart cups
  echo "cups reloaded"
  exit 0
fi
pidfile="$root$statedir/cupsd.pid"
pid=$(head -n 1 "$pidfile" 2>/dev/null | tr -d '[:space:]') || pid=
if [[ $pid =~ ^[0-9]+$ ]] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = cupsd ]; then
  kill -HUP "$pid"
  echo "cupsd ($pid, from $pidfile) told to reload"
else
  echo "no cupsd runs as $pidfile says: it reads the filter when it starts"
fi
