#!/usr/bin/env bash
# Drives Quillard from the command line over the session bus, the way a host
# program does: hands it a report as text, shows it, pages and zooms, prints
# it on the current printer and saves it as a PDF file. Any D-Bus client can
# do the same; this one uses gdbus (package libglib2.0-bin).
#
#   examples/automation-demo.sh REPORT OUT.pdf [--no-print]
#
# Quillard must be running (started with a report, or with -AUTOMATION), or
# registered ("quillard -REGSERVER" or "/REGSVR"), in which case the bus
# starts it on the first call.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 REPORT OUT.pdf [--no-print]" >&2
  exit 2
fi
report=$1
out=$(realpath -m "$2")
print=true
[ "${3:-}" = "--no-print" ] && print=false

iface=com.merrowgate.Quillard.IQuillardX
call() { gdbus call --session --dest com.merrowgate.Quillard --object-path /QuillardX --method "$@"; }
get() { call org.freedesktop.DBus.Properties.Get $iface "$1"; }
put() { call org.freedesktop.DBus.Properties.Set $iface "$1" "<$2>" >/dev/null; }
# The report's text as a GVariant string literal.
quote() {
  local t
  t=$(cat "$1"; printf x)
  t=${t%x}
  t=${t//\\/\\\\}
  t=${t//\'/\\\'}
  t=${t//$'\r'/\\r}
  t=${t//$'\n'/\\n}
  t=${t//$'\f'/\\f}
  t=${t//$'\t'/\\t}
  printf "'%s'" "$t"
}

echo "Quillard $(get Version), printers: $(get PrinterCount)"
echo "LoadReport: $(call $iface.LoadReport "$(quote "$report")")"
put Visible true
echo "Pages: $(get Pages)"
put CurrentPage 2
echo "CurrentPage: $(get CurrentPage)"
put Zoom 150
echo "Zoom: $(get Zoom)"
if $print; then
  echo "Printer: $(get PrinterName), printable width $(get PrinterPageWidth) pixels"
  put NumberOfCopies 1
  put PrintTitle "'Quillard automation demo'"
  call $iface.Print >/dev/null
  echo "Printed."
fi
echo "SaveAsPDF: $(call $iface.SaveAsPDF "'$out'")"
echo "LastErrorMessage: $(get LastErrorMessage)"
call $iface.Close >/dev/null
