# FFTW 3 (double precision), wrapped in the INTERFACE target `fftw`.
# pkg-config first (Debian, MSYS2, Homebrew); the CMake config package that
# vcpkg exports (FFTW3::fftw3) is the fallback.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(FFTW3 QUIET IMPORTED_TARGET fftw3)
endif()

add_library(fftw INTERFACE)
if(TARGET PkgConfig::FFTW3)
  target_link_libraries(fftw INTERFACE PkgConfig::FFTW3)
else()
  find_package(FFTW3 CONFIG QUIET)
  if(TARGET FFTW3::fftw3)
    target_link_libraries(fftw INTERFACE FFTW3::fftw3)
  else()
    message(FATAL_ERROR
      "FFTW 3 (double precision) was not found, neither through pkg-config "
      "(fftw3.pc) nor as a CMake package (FFTW3::fftw3). On Debian or Ubuntu: "
      "apt-get install libfftw3-dev")
  endif()
endif()
