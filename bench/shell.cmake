add_executable(bench_shell ${CMAKE_CURRENT_LIST_DIR}/bench_shell.cpp)
target_link_libraries(bench_shell PRIVATE halvern_shell benchmark::benchmark_main)

# Built plug-ins compared through their entry point (HALVERN_BENCH_PLUGINS).
add_executable(bench_plugin ${CMAKE_CURRENT_LIST_DIR}/bench_plugin.cpp)
target_link_libraries(bench_plugin PRIVATE halvern_host benchmark::benchmark)
target_compile_definitions(bench_plugin PRIVATE HALVERN_PLUGIN_PATH="$<TARGET_FILE:Halvern>")
add_dependencies(bench_plugin Halvern)
