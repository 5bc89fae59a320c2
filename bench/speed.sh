#!/usr/bin/env bash
# Speed benchmark of the program as users run it: for generated reports of
# 1,000 and 10,000 pages (SIZES="1000 10000 100000" adds the largest) of
# three kinds -- plain 80 columns, 132 columns at 17 characters an inch, and
# markup with fonts, bold text and a picture on every page -- it times
#   --count-pages, --png of the last page, --pdf
# and, for the plain reports, cups-filters' texttopdf writing the same text,
# and prints a table of seconds (CPU time of the process), pages per second
# of the PDF, the ratio to texttopdf and peak memory. Builds the program when
# needed (PROGRAM=path runs another build); everything is written to a
# scratch folder that goes at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/quillard ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
  cmake --build build --target quillard -j2
fi
program=${PROGRAM:-$PWD/build/quillard}
texttopdf=/usr/lib/cups/filter/texttopdf
sizes=${SIZES:-1000 10000}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen SOURCE_DATE_EPOCH=1700000000
# No print spooler: every run lays out on the same assumed Letter page.
export CUPS_SERVER=$scratch/no-spooler.sock

python3 - "$scratch" $sizes <<'EOF'
import struct, sys, random
folder, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
# A 120 x 40 picture, 24 bits, for the markup report.
w, h = 120, 40
row = bytes(b for x in range(w) for b in ((x * 2) % 256, 80, 200)) + b"\0" * ((4 - w * 3 % 4) % 4)
pixels = row * h
with open(f"{folder}/LOGO.BMP", "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0) + pixels)
for n in sizes:
    rnd = random.Random(n)
    with open(f"{folder}/plain-{n}.txt", "w", newline="") as f:
        for p in range(1, n + 1):
            f.write(f"Statement page {p}\r\n")
            for l in range(56):
                f.write(f"{l:02d} Nov 2026  INV-{p * 100 + l:07d}  Oak boards 22mm x 150mm  qty {rnd.randint(1, 99):3d}  {rnd.randint(1, 99999) / 100:10.2f}\r\n")
            if p < n:
                f.write("\f")
    with open(f"{folder}/wide-{n}.txt", "w", newline="") as f:
        f.write("{CPI17}\r\n")
        for p in range(1, n + 1):
            for l in range(60):
                f.write((f"{p:06d}-{l:02d} " * 13)[:132] + "\r\n")
            if p < n:
                f.write("\f")
    with open(f"{folder}/markup-{n}.txt", "w", newline="") as f:
        for p in range(1, n + 1):
            f.write("{IMAGE SRC=LOGO.BMP LEFT=6in TOP=0.5in}{FONT NAME=\"Arial\" SIZE=14}{B}Statement "
                    f"{p}{{/B}}\r\n{{FONT NAME=\"Times New Roman\" SIZE=10}}\r\n")
            for l in range(48):
                f.write(f"{l:02d} Nov 2026  INV-{p * 100 + l}  {{I}}Oak boards{{/I}}{{GOTO X=5in}}{rnd.randint(1, 99999) / 100:10.2f}\r\n")
            if p < n:
                f.write("{PAGE}")
EOF

# Runs a command, prints "CPU-seconds peak-KB".
measure() {
  /usr/bin/time -f "%U %S %M" -o "$scratch/time" "$@" >/dev/null 2>"$scratch/err" || {
    echo "failed: $*" >&2
    cat "$scratch/err" >&2
    return 1
  }
  awk '{ printf "%.2f %d\n", $1 + $2, $3 }' "$scratch/time"
}

printf '| report | pages | count s | last page s | PDF s | PDF pages/s | texttopdf s | ratio | peak MB |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
for n in $sizes; do
  for kind in plain wide markup; do
    report=$scratch/$kind-$n.txt
    read -r count countKb < <(measure "$program" --quiet --count-pages "$report")
    read -r last lastKb < <(measure "$program" --quiet --png "$scratch/last.png" --page "$n" "$report")
    read -r pdf pdfKb < <(measure "$program" --quiet --pdf "$scratch/out.pdf" "$report")
    peak=$(printf '%s\n' "$countKb" "$lastKb" "$pdfKb" | sort -n | tail -1)
    rate=$(awk -v n="$n" -v s="$pdf" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }')
    tt="-" ratio="-"
    if [ "$kind" = plain ] && [ -x "$texttopdf" ]; then
      read -r tt _ < <(measure "$texttopdf" 1 user title 1 "" "$report")
      ratio=$(awk -v a="$tt" -v b="$pdf" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }')
    fi
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %.0f |\n' "$kind" "$n" "$count" "$last" "$pdf" "$rate" "$tt" "$ratio" \
      "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')"
  done
done
