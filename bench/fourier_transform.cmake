# FFTW is linked here only, as the yardstick; the engine itself has no such dependency.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f)
snt_add_bench(bench_fourier_transform
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fourier_transform.cpp
  LIBS snt_dsp PkgConfig::FFTW3F)
