# Cross-compiling the 64-bit ARM Linux programs with Debian's
# aarch64-linux-gnu compilers, run here under user-mode emulation
# (qemu-aarch64-static). FFTW is Debian's own arm64 package, installed
# beside the machine's through multiarch (libfftw3-dev:arm64); GoogleTest is
# built from the source Debian ships, as for every cross build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Libraries and headers from the cross compiler's folder and Debian's arm64
# folder (/usr/lib/aarch64-linux-gnu, where multiarch puts them); programs
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the arm64 packages' files.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The emulator takes the arm64 loader and C++ runtime from the cross
# compiler's folder; FFTW then from /usr/lib/aarch64-linux-gnu.
find_program(FIR_BENCH_QEMU NAMES qemu-aarch64-static qemu-aarch64 NO_CMAKE_FIND_ROOT_PATH)
if(FIR_BENCH_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FIR_BENCH_QEMU} -L /usr/aarch64-linux-gnu)
endif()
