# Halvern Live against Halvern and the x42 autotuner in one table, run by hand after
# bench/live_bench_inputs.sh (x42 and lv2file from Debian, the real singing from npm).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIVE_BENCH_LILV IMPORTED_TARGET lilv-0)
pkg_check_modules(LIVE_BENCH_SNDFILE IMPORTED_TARGET sndfile)
if(LIVE_BENCH_LILV_FOUND AND LIVE_BENCH_SNDFILE_FOUND)
  add_executable(live_bench ${CMAKE_CURRENT_LIST_DIR}/live_bench.cpp)
  target_include_directories(live_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(live_bench PRIVATE halvern_live halvern_host PkgConfig::LIVE_BENCH_LILV
                                           PkgConfig::LIVE_BENCH_SNDFILE)
  target_compile_definitions(live_bench PRIVATE
    HALVERN_PLUGIN_PATH="$<TARGET_FILE:Halvern>"
    HALVERN_BENCH_LV2_DIR="${PROJECT_BINARY_DIR}/lib/lv2"
    HALVERN_BENCH_RECORDINGS="${CMAKE_CURRENT_BINARY_DIR}/recordings")
  add_dependencies(live_bench Halvern)
endif()
