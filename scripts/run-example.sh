#!/usr/bin/env bash
# Sets up, builds, and lays out the example report: prints its page count
# and draws every page as a PNG picture into out/. Only what the program
# needs is installed and built (scripts/test.sh adds the tests' tools and
# builds the rest).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --program
report=${1:-examples/statement.txt}
mkdir -p out
pages=$(build/quillard --count-pages "$report")
echo "$report: $pages page(s)"
for ((n = 1; n <= pages; n++)); do
  build/quillard --png "out/page$n.png" --page "$n" --zoom 100 "$report"
  echo "out/page$n.png"
done
