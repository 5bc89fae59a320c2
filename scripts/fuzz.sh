#!/usr/bin/env bash
# Fuzzing by hand. Builds the fuzz targets into build-fuzz/ and
#   fuzz.sh TARGET SECONDS [LIBFUZZER-OPTION]...
# runs TARGET (for instance fuzz_pagepass) for SECONDS from its kept corpus,
# its seeds (tests/fuzz/seeds/) and the working corpus of earlier runs, then
# rewrites tests/fuzz/corpus/TARGET with the inputs that reach new code. Crashes, hangs and
# leaks are written to build-fuzz/artifacts/TARGET/.
#   fuzz.sh --list              the targets
#   fuzz.sh --options TARGET    the libFuzzer options every run of TARGET uses
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(fuzz_pagepass fuzz_pdfpass fuzz_markup fuzz_entities fuzz_getln fuzz_header fuzz_pictures fuzz_autotext fuzz_http
         fuzz_automation fuzz_picture_geometry)
options() {
  # A page pass over a few KiB takes milliseconds; ten seconds is a hang.
  local common="-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024"
  case $1 in
    fuzz_pagepass) echo "$common -max_len=8192 -dict=tests/fuzz/markup.dict" ;;
    fuzz_markup) echo "$common -max_len=4096 -dict=tests/fuzz/markup.dict" ;;
    fuzz_entities) echo "$common -max_len=1024" ;;
    fuzz_getln) echo "$common -max_len=4096" ;;
    fuzz_pdfpass) echo "$common -max_len=8192 -dict=tests/fuzz/markup.dict" ;;
    fuzz_header) echo "$common -max_len=4096 -dict=tests/fuzz/markup.dict" ;;
    # A picture may be 100 megapixels (400 MB of pixels) by design; filling
    # that much took up to 10 s under the sanitizers on a busy machine.
    # Inputs up to 4 MiB: run-length escapes and GIF frames that add up.
    fuzz_pictures) echo "-timeout=30 -rss_limit_mb=2560 -malloc_limit_mb=1024 -max_len=4194304" ;;
    # A window decoded beside the whole picture, then the picture placed on a
    # page and in a PDF; pictures up to a MiB.
    fuzz_picture_geometry) echo "-timeout=30 -rss_limit_mb=2560 -malloc_limit_mb=1024 -max_len=1048576 -dict=tests/fuzz/geometry.dict" ;;
    fuzz_autotext) echo "$common -max_len=8192 -dict=tests/fuzz/markup.dict" ;;
    # Each input is two transfers of up to three connections each on
    # 127.0.0.1: milliseconds, unless the machine stalls.
    fuzz_http) echo "-timeout=30 -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len=8192 -dict=tests/fuzz/http.dict" ;;
    # Up to 64 calls on a main window, a few of them texts of 4 MiB and page
    # passes or PDF jobs of small reports: well under a second, unless the
    # machine stalls.
    fuzz_automation) echo "-timeout=30 -rss_limit_mb=2560 -malloc_limit_mb=1024 -max_len=16384" ;;
    *) echo "unknown fuzz target $1" >&2; return 1 ;;
  esac
}

case ${1:-} in
  --list) printf '%s\n' "${targets[@]}"; exit 0 ;;
  --options) options "$2"; exit 0 ;;
  ""|-h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac

target=$1
seconds=${2:?how many seconds}
shift 2
opts=$(options "$target")
# Runs of two targets at once share the build folder (and the package
# installer): one sets up and builds at a time.
mkdir -p build-fuzz
exec 9>build-fuzz/.build.lock
flock 9
source scripts/sanitizer-env.sh
sanitizer_build build-fuzz -DQUILLARD_FUZZ=ON -DQUILLARD_TESTS=OFF -DQUILLARD_BENCH=OFF
cmake --build build-fuzz -j"${JOBS:-2}" --target "$target"
exec 9>&-

name=${target#fuzz_}
work=build-fuzz/corpus/$target
kept=tests/fuzz/corpus/$target
seeds=tests/fuzz/seeds/$name
mkdir -p "$work" "$kept" "build-fuzz/artifacts/$target"
status=0
build-fuzz/tests/fuzz/$target $opts -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="build-fuzz/artifacts/$target/" "$@" "$work" "$kept" "$seeds" || status=$?

# Keep a small set: merge everything into an empty folder, keeping an input
# only when it reaches code (edges) that no input kept before it reaches. The
# larger working corpus in build-fuzz/corpus/ carries on to the next run.
merged=$(mktemp -d)
build-fuzz/tests/fuzz/$target $opts -merge=1 -use_counters=0 "$merged" "$kept" "$work" "$seeds" >/dev/null 2>&1
rm -rf "$kept"
mkdir -p "$kept"
cp "$merged"/* "$kept"/ 2>/dev/null || true
rm -rf "$merged"
echo "$target: $(ls "$kept" | wc -l) inputs, $(du -sb --apparent-size "$kept" | cut -f1) bytes kept in $kept"
exit $status
