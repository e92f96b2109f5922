add_executable(bench_f0 ${CMAKE_CURRENT_LIST_DIR}/bench_f0.cpp)
target_link_libraries(bench_f0 PRIVATE halvern_engine benchmark::benchmark_main)
target_compile_definitions(bench_f0 PRIVATE HALVERN_BENCH_DIR="${CMAKE_CURRENT_BINARY_DIR}")
