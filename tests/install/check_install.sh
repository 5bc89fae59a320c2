#!/usr/bin/env bash
# What an installation and the Debian package hold:
#   check_install.sh BUILD_DIR
# 1. cmake --install into a scratch DESTDIR under another prefix: every file
#    is there, the bus's service file names the installed program, the
#    installed program runs, the desktop entry and the manual page are sound.
# 2. cpack -G DEB into the scratch folder: the package lists the same files
#    under /usr with the libraries' packages as dependencies, installs into a
#    private dpkg root and is purged from it without leaving a file.
# Everything is written inside the scratch folder.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillard-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

expected=(
  bin/quillard
  lib/cups/filter/quillardtopdf
  share/cups/mime/quillard.types
  share/cups/mime/quillard.convs
  share/applications/quillard.desktop
  share/bash-completion/completions/quillard
  share/dbus-1/services/com.merrowgate.Quillard.service
  share/doc/quillard/README.md
  share/doc/quillard/changelog.Debian.gz
  share/doc/quillard/copyright
  share/doc/quillard/examples/automation-demo.sh
  share/doc/quillard/examples/statement.txt
  share/icons/hicolor/scalable/apps/quillard.svg
  share/man/man1/quillard.1.gz
  share/mime/packages/quillard.xml
)

# ---- cmake --install --------------------------------------------------------
prefix=/opt/quillard-check
DESTDIR="$scratch/root" cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
root="$scratch/root$prefix"
for f in "${expected[@]}"; do
  [ -f "$root/$f" ] || fail "cmake --install left out $prefix/$f"
done
grep -qx "Exec=$prefix/bin/quillard -AUTOMATION" "$root/share/dbus-1/services/com.merrowgate.Quillard.service" ||
  fail "the service file does not name the installed program: $(cat "$root/share/dbus-1/services/com.merrowgate.Quillard.service")"
grep -qx "Name=com.merrowgate.Quillard" "$root/share/dbus-1/services/com.merrowgate.Quillard.service" ||
  fail "the service file names another bus name"
[ -x "$root/bin/quillard" ] || fail "the program is not executable"
[ -x "$root/share/doc/quillard/examples/automation-demo.sh" ] || fail "the demo script is not executable"
version=$(QT_QPA_PLATFORM=offscreen "$root/bin/quillard" --version)
case $version in *1.*) ;; *) fail "the installed program says '$version' for --version" ;; esac
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/share/applications/quillard.desktop" || fail "the desktop entry is not valid"
fi
grep -q '^MimeType=.*application/vnd.quillard-report;' "$root/share/applications/quillard.desktop" ||
  fail "the desktop entry does not open Quillard reports"
grep -q 'pattern="\*.qrp"' "$root/share/mime/packages/quillard.xml" || fail "the MIME type has no *.qrp pattern"
gzip -t "$root/share/man/man1/quillard.1.gz" || fail "the manual page is not a sound gzip file"
# (Read whole first: grep -q ending a pipe early would fail it under pipefail.)
manpage=$(zcat "$root/share/man/man1/quillard.1.gz")
grep -q '^\.TH QUILLARD 1' <<<"$manpage" || fail "the manual page has no .TH line"
plain=$(sed 's/\\-/-/g' <<<"$manpage")
for option in --pdf --png --print --count-pages --paper --encoding --line-ends -AUTOMATION LoadFile LastErrorName; do
  grep -q -- "$option" <<<"$plain" || fail "the manual page does not mention $option"
done
if command -v groff >/dev/null; then
  warnings=$(groff -man -Tutf8 -ww <<<"$manpage" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
fi
bash -n "$root/share/bash-completion/completions/quillard" || fail "the bash completion is not valid bash"

# ---- the Debian package -------------------------------------------------------
if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
  echo "SKIP: no dpkg-deb or dpkg-shlibdeps; the package is not checked"
  exit 0
fi
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log") ||
  { cat "$scratch/cpack.log" >&2; fail "cpack could not make the package"; }
deb=$(ls "$scratch"/pkg/quillard_*.deb)
listing=$(dpkg-deb -c "$deb")
for f in "${expected[@]}"; do
  grep -q " \./usr/$f\$" <<<"$listing" || fail "the package lacks /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6widgets6 libcups2 libjpeg62-turbo libgif7 fonts-liberation2; do
  grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib: $depends"
done
mkdir -p "$scratch/dpkg/var/lib/dpkg/info" "$scratch/dpkg/var/lib/dpkg/updates" "$scratch/dpkg/var/lib/dpkg/triggers"
: >"$scratch/dpkg/var/lib/dpkg/status"
dpkg_root=(dpkg --root="$scratch/dpkg" --log="$scratch/dpkg.log" --force-depends --force-not-root)
"${dpkg_root[@]}" -i "$deb" >"$scratch/dpkg-install.log" 2>&1 ||
  { cat "$scratch/dpkg-install.log" >&2; fail "the package does not install into a private dpkg root"; }
grep -qx "Exec=/usr/bin/quillard -AUTOMATION" "$scratch/dpkg/usr/share/dbus-1/services/com.merrowgate.Quillard.service" ||
  fail "the package's service file does not name /usr/bin/quillard"
[ -x "$scratch/dpkg/usr/bin/quillard" ] || fail "the package did not install the program"
"${dpkg_root[@]}" --purge quillard >"$scratch/dpkg-purge.log" 2>&1 ||
  { cat "$scratch/dpkg-purge.log" >&2; fail "the package does not purge"; }
left=$(find "$scratch/dpkg" -mindepth 1 -not -path "$scratch/dpkg/var/*" -type f)
[ -z "$left" ] || fail "purging the package left files: $left"
echo "PASS: install and package hold every file; the package installs and purges cleanly"
