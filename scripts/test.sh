#!/usr/bin/env bash
# Sets up (the tests' tools too), builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd build
# One test at a time: the window tests answer modal dialogs as they appear,
# and a test that fails is a fault to find, never tried again.
ctest --output-on-failure -j1
