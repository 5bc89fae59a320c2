#!/usr/bin/env bash
# Installs what Quillard needs on Debian 12 (as root) and builds it into
# build/. Safe to run again: packages already present are not fetched.
#
#   setup.sh                  the program, the CUPS filter and every test tool;
#                             builds everything (tests and benchmarks)
#   setup.sh --program        only what the program and the CUPS filter need;
#                             builds only quillard and quillardtopdf
#   setup.sh --packages-only [EXTRA-PACKAGE]...
#                             installs the packages of the full set (and the
#                             extra ones, such as the sanitizer scripts'
#                             clang) without building
#
# Both builds use build/: a folder first made by --program has the tests
# switched off, and the full build switches them on again; --program on a
# folder the full build made keeps its settings and builds its two targets.
set -euo pipefail
cd "$(dirname "$0")/.."

# What find_package and pkg_check_modules need, and what the program uses
# when it runs: fonts (Liberation for the metric-compatible faces, DejaVu for
# the characters they lack), the sRGB profile of PDF/A files, the icons of
# the window.
program_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libjpeg62-turbo-dev libgif-dev zlib1g-dev
                  fonts-liberation2 fonts-dejavu-core fontconfig libfontconfig-dev libharfbuzz-dev colord-data
                  libcups2-dev adwaita-icon-theme)
# The tests' tools: GoogleTest, a private print spooler with the PDF filters,
# PDF readers, the package, desktop entry, mailcap and manual page checks, a
# session bus, a proxy.
test_packages=(libgtest-dev libgmock-dev
               cups-daemon cups-client cups-filters poppler-utils qpdf dpkg-dev file desktop-file-utils xdg-utils
               mailcap groff-base lintian dbus-daemon libglib2.0-bin python3 tinyproxy)

mode=all
case "${1:-}" in
  --program) mode=program; shift ;;
  --packages-only) mode=packages; shift ;;
esac
packages=("${program_packages[@]}")
[ "$mode" = program ] || packages+=("${test_packages[@]}")
[ "$mode" = packages ] && packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ "$mode" = packages ] && exit 0

build_type=${BUILD_TYPE:-RelWithDebInfo}
if [ "$mode" = program ]; then
  # A folder already configured keeps its settings (with the tests on, their
  # packages are installed); a new one is made without the tests.
  if [ -f build/CMakeCache.txt ]; then
    cmake -S . -B build >/dev/null
  else
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DQUILLARD_TESTS=OFF -DQUILLARD_BENCH=OFF >/dev/null
  fi
  cmake --build build -j"$(nproc)" --target quillard quillardtopdf
else
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DQUILLARD_TESTS=ON -DQUILLARD_BENCH=ON >/dev/null
  cmake --build build -j"$(nproc)"
fi
