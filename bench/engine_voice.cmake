add_executable(bench_voice ${CMAKE_CURRENT_LIST_DIR}/bench_voice.cpp)
target_link_libraries(bench_voice PRIVATE halvern_shell benchmark::benchmark_main)
