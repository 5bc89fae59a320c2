#!/usr/bin/env bash
# What an installation and the Debian package hold:
#   check_install.sh BUILD_DIR
# 1. cmake --install into a scratch DESTDIR under another prefix: every file
#    is there, the bus's service file names the installed program, the
#    installed program runs, the desktop entry and the manual pages are sound
#    and name the licence the copyright file gives.
# 2. cpack -G DEB into the scratch folder: the package lists the same files
#    under /usr with the libraries' packages as dependencies, its programs are
#    stripped and hardened (and lintian, when installed, finds no error, no
#    missing hardening and no misspelling), it installs into a private dpkg
#    root and is purged from it without leaving a file.
# Everything is written inside the scratch folder.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillard-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# A sanitizer build leaves the C library's checked functions out (the
# sanitizers' own interceptors take their place): its package is not the one
# shipped, and its fortification and lintian's tags are not checked.
sanitized=false
grep -q '^QUILLARD_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null && sanitized=true

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
  share/lintian/overrides/quillard
  share/man/man1/quillard.1.gz
  share/man/man8/quillardtopdf.8.gz
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
# A manual page: a sound gzip file with its .TH line, naming each of the
# words after its name, rendered without a warning, with the licence in its
# COPYRIGHT section.
check_manpage() {  # check_manpage FILE TH_LINE WORD...
  local file=$1 th=$2 manpage plain warnings
  shift 2
  gzip -t "$file" || fail "$file is not a sound gzip file"
  # (Read whole first: grep -q ending a pipe early would fail it under pipefail.)
  manpage=$(zcat "$file")
  grep -q "^\\.TH $th" <<<"$manpage" || fail "$file has no .TH $th line"
  plain=$(sed 's/\\-/-/g; s/\\%//g' <<<"$manpage")
  for word in "$@"; do
    grep -q -- "$word" <<<"$plain" || fail "$file does not mention $word"
  done
  sed -n '/^\.SH COPYRIGHT/,/^\.SH/p' <<<"$plain" | grep -q 'Apache License, Version 2.0' ||
    fail "$file names no licence in a COPYRIGHT section"
  if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww <<<"$manpage" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$file has warnings: $warnings"
  fi
}
check_manpage "$root/share/man/man1/quillard.1.gz" "QUILLARD 1" \
  --pdf --png --print --count-pages --paper --encoding --line-ends -AUTOMATION LoadFile LastErrorName 'quillardtopdf (8)'
check_manpage "$root/share/man/man8/quillardtopdf.8.gz" "QUILLARDTOPDF 8" \
  'job-id' plain= paginate= lines-per-page= cpi= lpi= encoding= line-ends= PageSize page-size media= \
  orientation-requested landscape QUILLARD_PICTURE_FOLDER TMPDIR quillard.types quillard.convs \
  'text/plain application/pdf 31 quillardtopdf' 'quillard (1)' 'cupsd.conf (5)' 'mime.types (5)'
# The licence: the machine-readable copyright file names it for every file.
copyright=$root/share/doc/quillard/copyright
grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" &&
  grep -qx 'Files: \*' "$copyright" && grep -qx 'License: Apache-2.0' "$copyright" &&
  grep -q '/usr/share/common-licenses/Apache-2.0' "$copyright" ||
  fail "the copyright file does not give every file the Apache-2.0 licence: $(cat "$copyright")"
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
# The programs as installed: stripped, position-independent, the relocations
# read-only and bound at start-up, the checked C library functions and the
# stack protector in use.
dpkg-deb -x "$deb" "$scratch/unpacked"
for program in usr/bin/quillard usr/lib/cups/filter/quillardtopdf; do
  elf=$scratch/unpacked/$program
  if command -v readelf >/dev/null; then
    readelf -S "$elf" | grep -q '\.symtab' && fail "/$program is not stripped"
    readelf -h "$elf" | grep -q 'Type: *DYN' || fail "/$program is no position-independent executable"
    readelf -l "$elf" | grep -q 'GNU_RELRO' || fail "/$program has no read-only relocations"
    readelf -d "$elf" | grep -Eq 'BIND_NOW|FLAGS_1.* NOW' || fail "/$program does not bind its symbols at start-up"
    symbols=$(readelf --dyn-syms -W "$elf")
    $sanitized || grep -q '__[a-z0-9_]*_chk' <<<"$symbols" || fail "/$program uses no checked C library function"
    grep -q '__stack_chk_fail' <<<"$symbols" || fail "/$program has no stack protector"
  fi
done
# Lintian: no error, no missing hardening, no misspelling (the overrides the
# package ships say why the words they name stay).
if command -v lintian >/dev/null && ! $sanitized; then
  # (1 is lintian's answer for a package with errors; above it lintian failed.)
  status=0
  lintian -I "$deb" >"$scratch/lintian.log" 2>&1 || status=$?
  [ "$status" -le 1 ] || { cat "$scratch/lintian.log" >&2; fail "lintian could not check the package"; }
  tags=$(grep -E '^E: |hardening-|spelling-error' "$scratch/lintian.log" || true)
  [ -z "$tags" ] || fail "lintian finds: $tags"
else
  echo "(no lintian: the package's tags are not checked)"
fi
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

# ---- the package and the desktop's defaults -------------------------------------
# Quillard opens its reports; it claims no text file: a desktop entry naming
# text/plain would be the default for every text file wherever no
# mimeapps.list names another (the first candidate is the default), and
# Debian's update-mime would give /etc/mailcap a text/plain entry from it.
# The package's own mailcap entries (named as the desktop entry) replace
# those update-mime makes of the desktop entry.
unpacked=$scratch/unpacked
desktop=$unpacked/usr/share/applications/quillard.desktop
mime=$unpacked/usr/lib/mime/packages/quillard
grep -q '^MimeType=application/vnd.quillard-report;$' "$desktop" ||
  fail "the desktop entry claims more than the report type: $(grep MimeType "$desktop")"
[ -f "$mime" ] || fail "the package has no mailcap entries of its own (/usr/lib/mime/packages/quillard)"
grep -v '^application/vnd.quillard-report;' "$mime" | grep -q . && fail "the mailcap entries name another type: $(cat "$mime")"
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$unpacked/usr/share/applications"
  grep -qx 'application/vnd.quillard-report=quillard.desktop;' "$unpacked/usr/share/applications/mimeinfo.cache" ||
    fail "the desktop cache does not give the report type to Quillard: $(cat "$unpacked/usr/share/applications/mimeinfo.cache")"
fi
if command -v xdg-mime >/dev/null; then
  # Without a desktop session and with no mimeapps.list, as a new user's.
  mkdir -p "$scratch/home"
  query() {
    env -i PATH="$PATH" HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" XDG_CONFIG_DIRS="$scratch/home/xdg" \
      XDG_DATA_HOME="$scratch/home/.local/share" XDG_DATA_DIRS="$unpacked/usr/share" xdg-mime query default "$1"
  }
  [ "$(query application/vnd.quillard-report)" = quillard.desktop ] || fail "Quillard is not the default for its reports"
  [ -z "$(query text/plain)" ] || fail "Quillard is the default for text files: $(query text/plain)"
fi
if command -v update-mime >/dev/null; then
  # Debian's update-mime (a copy reading the package's files and writing a
  # private mailcap) on the package alone.
  sed -e "s|\"/usr/lib/mime/packages\"|\"$unpacked/usr/lib/mime/packages\"|" \
      -e "s|\"/usr/share/applications\"|\"$unpacked/usr/share/applications\"|" \
      -e "s|\"/etc/|\"$scratch/etc-|" "$(command -v update-mime)" >"$scratch/update-mime"
  printf '# ----- User Section Begins ----- #\n# ----- User Section Ends ----- #\n' >"$scratch/etc-mailcap"
  env -i PATH="$PATH" perl "$scratch/update-mime"
  mailcap=$(grep -v '^#' "$scratch/etc-mailcap" | grep . || true)
  grep -q '^application/vnd.quillard-report; quillard %s' <<<"$mailcap" ||
    fail "update-mime gives the report type no entry: $mailcap"
  grep -v '^application/vnd.quillard-report;' <<<"$mailcap" | grep -q . && fail "update-mime makes other entries: $mailcap"
fi

echo "PASS: install and package hold every file; the package installs and purges cleanly"
