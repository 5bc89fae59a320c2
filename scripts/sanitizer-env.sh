# Sourced by the sanitizer and fuzzing scripts: installs clang and its
# sanitizer runtimes, and sets the sanitizers' run-time options. Expects the
# current directory to be the top of the source tree.

bash scripts/setup.sh --packages-only clang libclang-rt-14-dev llvm

# Any report ends the program with an error; leaks are looked for at exit.
export ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Font and window-system libraries keep caches until exit; see the file.
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0
# Readable stacks in reports.
ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer || true)
export ASAN_SYMBOLIZER_PATH
export QT_QPA_PLATFORM=offscreen

# Configures and builds a sanitizer build directory: sanitizer_build DIR ARGS...
sanitizer_build() {
  local dir=$1
  shift
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "$@" >/dev/null
}
