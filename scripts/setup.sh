#!/usr/bin/env bash
# Installs what Quillard needs on Debian 12 (as root) and builds it into
# build/. Safe to run again: packages already present are not fetched.
# "setup.sh --packages-only [EXTRA-PACKAGE]..." installs the packages (and
# the extra ones, such as the sanitizer scripts' clang) without building.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libjpeg62-turbo-dev libgif-dev zlib1g-dev
          fonts-liberation2 fonts-dejavu-core fontconfig libfontconfig-dev libharfbuzz-dev colord-data
          libgtest-dev libgmock-dev
          libcups2-dev cups-daemon cups-client cups-filters poppler-utils qpdf dpkg-dev file desktop-file-utils groff-base
          dbus-daemon libglib2.0-bin python3 tinyproxy adwaita-icon-theme)
packages_only=false
if [ "${1:-}" = "--packages-only" ]; then
  packages_only=true
  shift
  packages+=("$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

$packages_only && exit 0

build_type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
cmake --build build -j"$(nproc)"
