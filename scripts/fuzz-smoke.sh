#!/usr/bin/env bash
# Builds the fuzz targets (build-fuzz/) and runs each for a short while
# (FUZZ_SECONDS, default 60) from its kept corpus in tests/fuzz/corpus/.
# New inputs go to a scratch folder, so the kept corpus is not changed; a
# crash, hang, leak or sanitizer report fails the script and leaves the input
# in build-fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
# The build folder is shared with fuzz.sh runs: one sets up and builds at a time.
mkdir -p build-fuzz
exec 9>build-fuzz/.build.lock
flock 9
source scripts/sanitizer-env.sh
sanitizer_build build-fuzz -DQUILLARD_FUZZ=ON -DQUILLARD_TESTS=OFF -DQUILLARD_BENCH=OFF
cmake --build build-fuzz -j"${JOBS:-$(nproc)}" --target fuzzers
exec 9>&-

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=()
for target in $(bash scripts/fuzz.sh --list); do
  mkdir -p "$scratch/$target" "build-fuzz/artifacts/$target"
  inputs=()
  for d in "tests/fuzz/corpus/$target" "tests/fuzz/seeds/${target#fuzz_}"; do
    [ -d "$d" ] && inputs+=("$d")
  done
  echo "== $target: $seconds s"
  if ! build-fuzz/tests/fuzz/$target $(bash scripts/fuzz.sh --options "$target") \
      -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$target/" \
      "$scratch/$target" "${inputs[@]}" >"$scratch/$target.log" 2>&1; then
    tail -n 60 "$scratch/$target.log"
    failed+=("$target")
  else
    grep -E '^(stat::number_of_executed_units|stat::new_units_added|Done )' "$scratch/$target.log" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets failed: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2
  exit 1
fi
