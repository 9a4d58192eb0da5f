# What the cross toolchains share: libraries and headers from the target's
# own folder (FIR_BENCH_SYSROOT, set before including this) and from FFTW as
# tools/build_fftw.sh built it for the target, whose prefix
# FIR_BENCH_FFTW_PREFIX names (a cache variable, or the environment variable
# of that name on the first configure); programs from the build machine.
if(NOT FIR_BENCH_FFTW_PREFIX AND DEFINED ENV{FIR_BENCH_FFTW_PREFIX})
  set(FIR_BENCH_FFTW_PREFIX "$ENV{FIR_BENCH_FFTW_PREFIX}" CACHE PATH "FFTW built for the target")
endif()

set(CMAKE_FIND_ROOT_PATH ${FIR_BENCH_SYSROOT} ${FIR_BENCH_FFTW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks only at the cross-built FFTW.
set(ENV{PKG_CONFIG_LIBDIR} "${FIR_BENCH_FFTW_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
