# Cross-compiling for Windows with mingw-w64 (POSIX threads) on Linux:
# 64-bit by default, 32-bit with FIR_BENCH_MINGW_ARCH=i686. The tests run
# under Wine.
# FFTW comes from tools/build_fftw.sh x86_64-w64-mingw32 or i686-w64-mingw32
# (cross_root.cmake).
if(NOT FIR_BENCH_MINGW_ARCH)
  set(FIR_BENCH_MINGW_ARCH x86_64)
endif()
set(triplet ${FIR_BENCH_MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${FIR_BENCH_MINGW_ARCH})
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

set(FIR_BENCH_SYSROOT /usr/${triplet})
include(${CMAKE_CURRENT_LIST_DIR}/cross_root.cmake)

# GCC keeps the Windows stack 16-byte aligned but may still spill AVX and
# AVX-512 registers with aligned moves (GCC bug 54412); the assembler turns
# every aligned vector move into an unaligned one, which costs nothing on
# aligned data and cannot fault on the stack.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
if(FIR_BENCH_MINGW_ARCH STREQUAL "i686")
  # 32-bit: every double operation in SSE2, rounded to double as on x86-64
  # (x87 would keep 80-bit intermediates); the stack, kept only 4-byte
  # aligned by 32-bit Windows, realigned where SSE needs 16 bytes.
  string(APPEND CMAKE_CXX_FLAGS_INIT " -msse2 -mfpmath=sse -mstackrealign")
endif()

# One self-contained .exe: the C and C++ runtimes and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
if(FIR_BENCH_MINGW_ARCH STREQUAL "i686")
  # Large-address-aware: on 64-bit Windows the 32-bit program then gets 4 GB
  # of address space instead of 2 GB, for signals about twice as long.
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--large-address-aware")
endif()

# Wine runs the tests. Its 64-bit loader for the 64-bit programs: where the
# 32-bit Wine package is installed, the plain `wine` script picks the
# 32-bit loader for every program. The 32-bit loader (Debian's wine32:i386,
# which `make windows` installs only where the machine runs 32-bit code)
# for the 32-bit programs; without it they are built and not run.
if(FIR_BENCH_MINGW_ARCH STREQUAL "x86_64")
  find_program(FIR_BENCH_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
else()
  find_program(FIR_BENCH_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()
# The server binary itself: Debian's `wineserver` script forces -p0. The
# 64-bit server serves 32-bit programs too.
find_program(FIR_BENCH_WINESERVER NAMES wineserver64 wineserver32 wineserver PATHS /usr/lib/wine
             NO_CMAKE_FIND_ROOT_PATH)
if(FIR_BENCH_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FIR_BENCH_WINE})
endif()
