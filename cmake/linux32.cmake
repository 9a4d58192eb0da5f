# Cross-compiling the 32-bit x86 Linux program with Debian's i686-linux-gnu
# compilers: the 32-bit sizes and the SSE2 arithmetic of the 32-bit Windows
# program, run here under user-mode emulation (qemu-i386-static), which
# needs no 32-bit support from the machine's kernel.
# FFTW comes from tools/build_fftw.sh i686-linux-gnu (cross_root.cmake).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)

set(FIR_BENCH_SYSROOT /usr/i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross_root.cmake)

# Every double operation in SSE2, rounded to double as on x86-64 (x87 would
# keep 80-bit intermediates); 64-bit file offsets, so that a result file may
# pass 2 GiB.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -D_FILE_OFFSET_BITS=64")

# The emulator takes the 32-bit loader and libraries from the cross
# compiler's folder; its processor model `max` reports AVX2 (qemu 7.2 runs
# AVX2 code but no AVX-512), so that the AVX2 kernels run too.
find_program(FIR_BENCH_QEMU NAMES qemu-i386-static qemu-i386 NO_CMAKE_FIND_ROOT_PATH)
if(FIR_BENCH_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FIR_BENCH_QEMU} -cpu max -L /usr/i686-linux-gnu)
endif()
