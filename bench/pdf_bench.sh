#!/usr/bin/env bash
# PDF benchmark: quillard --pdf beside cups-filters' texttopdf on generated
# 1,000- and 10,000-page character-printer reports. Installs texttopdf
# (cups-filters, without its recommendations) when it is missing, builds, and
# prints pages per second and peak memory of both programs.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x /usr/lib/cups/filter/texttopdf ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends cups-filters >/dev/null
fi
if [ ! -d build ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
fi
cmake --build build --target quillard_pdf_bench -j2
build/bench/quillard_pdf_bench "$@"
