# The hardening Debian gives every package it builds, on project_options:
# fortified libc calls, a stack protector, position-independent programs,
# full RELRO with immediate binding; on Windows (mingw-w64) the stack
# protector, ASLR (high-entropy on 64-bit) and DEP. mingw-w64's headers of
# this Debian release have no fortified calls. The sanitizer and fuzzing
# builds leave it off: the sanitizers do the same checks and more.
option(FIR_BENCH_HARDENING "Build with Debian's hardening flags" ON)
if(NOT FIR_BENCH_HARDENING OR MSVC)
  return()
endif()

target_compile_options(project_options INTERFACE -fstack-protector-strong)
if(WIN32)
  # The flag at the link too: mingw-w64's driver then adds its libssp.
  target_link_options(project_options INTERFACE -fstack-protector-strong LINKER:--dynamicbase,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_link_options(project_options INTERFACE LINKER:--high-entropy-va)
  endif()
  return()
endif()

# Level 3 where GCC has it (12 and later); an optimised build only, as
# glibc's checks need the optimiser.
set(fortify_level 2)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  set(fortify_level 3)
endif()
target_compile_options(project_options INTERFACE
  $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${fortify_level}>)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
target_link_options(project_options INTERFACE LINKER:-z,relro,-z,now)
