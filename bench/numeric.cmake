# FFTW is linked here only, as the speed reference for our own transform.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3)
add_executable(bench_fft ${CMAKE_CURRENT_LIST_DIR}/bench_fft.cpp)
target_link_libraries(bench_fft PRIVATE halvern_numeric PkgConfig::FFTW3 benchmark::benchmark_main)
