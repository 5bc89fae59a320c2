# Sanitizer and fuzzing builds. Both instrument every target of the tree, so
# they live in build directories of their own (scripts/sanitize.sh uses
# build-asan/, scripts/fuzz-smoke.sh build-fuzz/).
#
# Undefined behaviour stops the program at the first report
# (-fno-sanitize-recover), so a test or a fuzz run can not pass over it.
if(QUILLARD_SANITIZE OR QUILLARD_FUZZ)
  set(QUILLARD_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  add_compile_options(${QUILLARD_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUILLARD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUILLARD_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  # Coverage feedback for the fuzzer in every library; the fuzz targets add
  # libFuzzer's main themselves.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
