# The hardening Debian's own packages are built with, so the installed
# program and filter (which reads a stranger's report) have it too:
#   - a stack protector on every function with an array or a local whose
#     address is taken;
#   - checked variants of the C library's copying and formatting functions
#     where the compiler knows the buffer's size (needs optimisation; left out
#     under the sanitizers, whose own interceptors would be bypassed);
#   - position-independent executables, so the program is loaded at a
#     random address;
#   - the relocation table read-only and every symbol bound at start-up
#     (RELRO with BIND_NOW), so no writable function pointer is left there.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong)
if(NOT QUILLARD_SANITIZE AND NOT QUILLARD_FUZZ)
  add_compile_options($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE>
                      $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
