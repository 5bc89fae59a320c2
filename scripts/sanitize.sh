#!/usr/bin/env bash
# Builds the program and every test with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang) into build-asan/ and runs the test
# suite there. Any sanitizer report fails the test that triggered it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitizer-env.sh

jobs=${JOBS:-$(nproc)}
sanitizer_build build-asan -DQUILLARD_SANITIZE=ON -DQUILLARD_BENCH=OFF
cmake --build build-asan -j"$jobs"
cd build-asan
# One test at a time, as in the normal run; a failing test is not tried
# again.
ctest --output-on-failure -j1 --timeout 600
