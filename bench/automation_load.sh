#!/usr/bin/env bash
# Load times of the automation server for plain reports of 1, 10 and 100 MB
# (SIZES_MB="1 10 100"), beside the page pass of the command line on the
# same file. On a private session bus (dbus-run-session) a server started
# with -AUTOMATION shows its window (offscreen) and a client times, with
# gdbus:
#   LoadFile   the first page drawn and the pages counted, as a client waits
#   SaveAsPDF  the whole report written as PDF
# and, while the LoadFile of each report runs, a second client reads Pages
# again and again: the slowest of its answers shows how long another client
# waits at worst. Beside them --count-pages and --pdf of the command line
# (wall seconds). Builds what it needs (PROGRAM=path runs another build);
# everything is written to a scratch folder that goes at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${PROGRAM:-}" ]; then
  if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
  fi
  cmake --build build --target quillard -j2 >/dev/null
fi
program=${PROGRAM:-$PWD/build/quillard}
sizes=${SIZES_MB:-1 10 100}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen SOURCE_DATE_EPOCH=1700000000
export CUPS_SERVER=$scratch/no-spooler.sock XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config
export TEMP=$scratch QUILLARD_AUTOMATION_LINGER_MS=600000

python3 - "$scratch" $sizes <<'EOF'
import random, sys
folder, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
for mb in sizes:
    rnd = random.Random(mb)
    with open(f"{folder}/plain-{mb}mb.txt", "w", newline="") as f:
        size, page = 0, 0
        while size < mb * 1000000:
            page += 1
            lines = [f"Statement page {page}\r\n"] + [
                f"{l:02d} Nov 2026  INV-{page * 100 + l:07d}  Oak boards 22mm x 150mm  qty {rnd.randint(1, 99):3d}  "
                f"{rnd.randint(1, 99999) / 100:10.2f}\r\n" for l in range(56)]
            text = "".join(lines) + "\f"
            f.write(text)
            size += len(text)
EOF

cat >"$scratch/inner.sh" <<'EOF'
set -euo pipefail
program=$1; scratch=$2; shift 2
iface=com.merrowgate.Quillard.IQuillardX
call() { gdbus call --session --dest com.merrowgate.Quillard --object-path /QuillardX --method "$@"; }
get() { call org.freedesktop.DBus.Properties.Get $iface "$1"; }
now() { date +%s.%N; }
"$program" -AUTOMATION 2>"$scratch/server.err" &
server=$!
for _ in $(seq 200); do
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner com.merrowgate.Quillard | grep -q true && break
  sleep 0.05
done
call org.freedesktop.DBus.Properties.Set $iface Visible "<true>" >/dev/null
printf "%-8s %8s %10s %10s %10s %12s %10s\n" size pages LoadFile count-pages SaveAsPDF "--pdf" "worst read"
for mb in "$@"; do
  report=$scratch/plain-${mb}mb.txt
  # The second client: reads Pages while the load runs, noting each answer's time.
  : >"$scratch/reads"
  (
    while [ ! -e "$scratch/loaded" ]; do
      s=$(now); get Pages >/dev/null; e=$(now)
      echo "$s $e" >>"$scratch/reads"
    done
  ) &
  reader=$!
  s=$(now); call $iface.LoadFile "'$report'" >/dev/null; e=$(now)
  touch "$scratch/loaded"
  wait $reader
  rm -f "$scratch/loaded"
  load=$(echo "$e - $s" | bc)
  worst=$(awk '{d = $2 - $1; if (d > w) w = d} END {printf "%.3f", w}' "$scratch/reads")
  pages=$(get Pages | tr -dc 0-9)
  s=$(now); call $iface.SaveAsPDF "'$scratch/out.pdf'" >/dev/null; e=$(now)
  save=$(echo "$e - $s" | bc)
  s=$(now); "$program" --count-pages "$report" >/dev/null 2>&1; e=$(now)
  count=$(echo "$e - $s" | bc)
  s=$(now); "$program" --pdf "$scratch/cli.pdf" "$report" >/dev/null 2>&1; e=$(now)
  cli=$(echo "$e - $s" | bc)
  printf "%-8s %8s %10.2f %10.2f %10.2f %12.2f %10s\n" "${mb} MB" "$pages" "$load" "$count" "$save" "$cli" "$worst"
done
kill $server
wait $server 2>/dev/null || true
EOF
dbus-run-session -- bash "$scratch/inner.sh" "$program" "$scratch" $sizes
