#!/usr/bin/env bash
# Runs the program of a build folder (default build/) over the hostile-input
# corpus of tests/hostile/: each case with --count-pages, --png and --pdf,
# and through the CUPS filter beside it (quillardtopdf) as a spooled job, as
# the case asks; each run within a time and memory limit, every file around
# it watched, its output and messages within the case's bounds.
# Reports each crash, hang, memory blow-up, unexpected exit or unexpected file
# effect, and fails when there is one. A sanitized build (build-asan/) is
# recognised and run with the sanitizers' own limits.
#   hostile.sh [BUILD-DIR] [run.py OPTION]...
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
program=$build/quillard
if [ ! -x "$program" ]; then
  echo "hostile.sh: no program at $program (build it first)" >&2
  exit 2
fi
options=()
if grep -q '^QUILLARD_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  source scripts/sanitizer-env.sh
  options+=(--sanitized)
fi
exec python3 tests/hostile/run.py --program "$program" "${options[@]}" "$@"
