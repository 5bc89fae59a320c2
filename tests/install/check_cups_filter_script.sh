#!/usr/bin/env bash
# scripts/install-cups-filter.sh run into scratch roots:
#   check_cups_filter_script.sh SOURCE_DIR FILTER
# 1. The filter goes into ServerBin and the MIME files into the DataDir's
#    mime folder, where the package puts them (nothing into /etc/cups), and
#    only the cupsd of the PID file that cups-files.conf's StateDir names is
#    told to reload: a stand-in "cupsd" gets SIGHUP, another one does not.
# 2. A PID file naming a process that is no cupsd: nobody is signalled.
# 3. A filter a package owns (in the root's dpkg database) is not replaced:
#    the script says so, fails and changes nothing.
# Everything is written inside the scratch folder.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
filter=$2
script=$source_dir/scripts/install-cups-filter.sh
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillard-cups-script.XXXXXX")
started=()
cleanup() {
  for pid in "${started[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Waits for a condition, at most 20 s.
wait_until() {
  local deadline=$((SECONDS + 20))
  until eval "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

# Stand-ins for cupsd: a process named cupsd that counts the SIGHUPs it gets
# (started by the kernel from its #! line, so the process has the script's
# name).
mkdir -p "$scratch/bin"
cat >"$scratch/bin/cupsd" <<'EOF'
#!/bin/bash
trap 'echo HUP >>"$1.hup"' HUP
: >"$1.ready"
while :; do sleep 1 & wait $! || true; done
EOF
chmod +x "$scratch/bin/cupsd"
start_cupsd() {  # start_cupsd NAME: sets cupsd_pid
  "$scratch/bin/cupsd" "$scratch/$1" &
  cupsd_pid=$!
  started+=("$cupsd_pid")
  wait_until "[ -e '$scratch/$1.ready' ]" || fail "the stand-in cupsd $1 did not start"
}
hups() { [ -e "$scratch/$1.hup" ] && wc -l <"$scratch/$1.hup" || echo 0; }
start_cupsd system
system_pid=$cupsd_pid
start_cupsd private
private_pid=$cupsd_pid
[ "$(cat /proc/$system_pid/comm)" = cupsd ] || fail "the stand-in is not named cupsd"

new_root() {  # new_root NAME PID: a root whose cups-files.conf names a StateDir holding PID
  local root=$scratch/$1
  mkdir -p "$root/etc/cups" "$root/var/run/quillard-cups"
  printf 'SystemGroup lpadmin\nStateDir /var/run/quillard-cups\n' >"$root/etc/cups/cups-files.conf"
  echo "$2" >"$root/var/run/quillard-cups/cupsd.pid"
  echo "$root"
}

# ---- 1. into a root of its own -------------------------------------------------
root=$(new_root plain "$system_pid")
bash "$script" --root "$root" "$filter" >"$scratch/plain.log" 2>&1 ||
  { cat "$scratch/plain.log" >&2; fail "the script failed"; }
cmp -s "$filter" "$root/usr/lib/cups/filter/quillardtopdf" || fail "the filter is not in ServerBin's filter folder"
[ -x "$root/usr/lib/cups/filter/quillardtopdf" ] || fail "the installed filter is not executable"
for f in quillard.types quillard.convs; do
  cmp -s "$source_dir/packaging/$f" "$root/usr/share/cups/mime/$f" || fail "$f is not in the DataDir's mime folder"
done
placed=$(cd "$root" && find . -type f | sort | tr '\n' ' ')
[ "$placed" = "./etc/cups/cups-files.conf ./usr/lib/cups/filter/quillardtopdf ./usr/share/cups/mime/quillard.convs ./usr/share/cups/mime/quillard.types ./var/run/quillard-cups/cupsd.pid " ] ||
  fail "the script wrote other files: $placed"
wait_until '[ "$(hups system)" = 1 ]' || fail "the cupsd of the PID file got no SIGHUP: $(cat "$scratch/plain.log")"
[ "$(hups private)" = 0 ] || fail "another cupsd got a SIGHUP"
kill -0 "$private_pid" || fail "another cupsd ended"

# ---- 2. a PID file naming a process that is no cupsd --------------------------
sleep 600 &
other_pid=$!
started+=("$other_pid")
root=$(new_root stale "$other_pid")
bash "$script" --root "$root" "$filter" >"$scratch/stale.log" 2>&1 ||
  { cat "$scratch/stale.log" >&2; fail "the script failed with a stale PID file"; }
kill -0 "$other_pid" || fail "a process that is no cupsd was signalled"
grep -q "no cupsd runs" "$scratch/stale.log" || fail "the script does not say that no cupsd runs: $(cat "$scratch/stale.log")"

# ---- 3. a filter the package installed ------------------------------------------
root=$(new_root packaged "$system_pid")
mkdir -p "$root/var/lib/dpkg/info" "$root/usr/lib/cups/filter"
cat >"$root/var/lib/dpkg/status" <<'EOF'
Package: quillard
Status: install ok installed
Maintainer: Quillard developers <quillard@merrowgate.example>
Architecture: all
Version: 1.52.0-1
Description: report previewer and print gateway

EOF
printf '/usr\n/usr/lib\n/usr/lib/cups\n/usr/lib/cups/filter\n/usr/lib/cups/filter/quillardtopdf\n' \
  >"$root/var/lib/dpkg/info/quillard.list"
echo "the package's filter" >"$root/usr/lib/cups/filter/quillardtopdf"
if bash "$script" --root "$root" "$filter" >"$scratch/packaged.log" 2>&1; then
  fail "the script replaced the package's filter without failing"
fi
grep -q "belongs to the package quillard" "$scratch/packaged.log" ||
  fail "the script does not say whose the filter is: $(cat "$scratch/packaged.log")"
[ "$(cat "$root/usr/lib/cups/filter/quillardtopdf")" = "the package's filter" ] || fail "the package's filter was replaced"
[ ! -e "$root/usr/share/cups/mime" ] || fail "MIME files were installed beside the package's filter"
[ "$(hups system)" = 1 ] || fail "cupsd was told to reload though nothing was installed"
echo "PASS: the filter script installs where the package does and reloads only the server's cupsd"
