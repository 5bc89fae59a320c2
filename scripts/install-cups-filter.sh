#!/usr/bin/env bash
# Sets a CUPS print server up to print Quillard reports on every queue:
# puts the filter quillardtopdf into the server's ServerBin and its MIME
# files into its ServerRoot, then has the running cupsd read them again.
#   scripts/install-cups-filter.sh [FILTER]     (default: build/quillardtopdf)
# Clients then print with
#   lp -d QUEUE -o document-format=application/vnd.quillard-report report.txt
# (An installed package has put them in place already; only the reload is
# needed after installing it.)
set -euo pipefail
cd "$(dirname "$0")/.."
filter=${1:-build/quillardtopdf}
[ -x "$filter" ] || { echo "no filter program at $filter: build it first (scripts/setup.sh)" >&2; exit 1; }
serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
serverroot=$(cups-config --serverroot 2>/dev/null || echo /etc/cups)
install -D -m 0755 -o root -g root "$filter" "$serverbin/filter/quillardtopdf"
install -D -m 0644 -o root -g root packaging/quillard.types "$serverroot/quillard.types"
install -D -m 0644 -o root -g root packaging/quillard.convs "$serverroot/quillard.convs"
if command -v systemctl >/dev/null && systemctl is-active --quiet cups 2>/dev/null; then
  systemctl restart cups
elif pid=$(pidof cupsd); then
  kill -HUP $pid
else
  echo "cupsd is not running: it reads the filter when it starts"
fi
echo "quillardtopdf installed in $serverbin/filter; MIME files in $serverroot"
