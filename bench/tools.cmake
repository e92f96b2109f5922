# The renderer's tuning figures: generated takes through the built tool with --scale auto,
# chromatic and --melody, each note's pitch measured (run by hand, with the takes of the tests,
# which need GoogleTest).
if(TARGET halvern-render AND TARGET GTest::gtest)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(BENCH_SMF REQUIRED IMPORTED_TARGET smf)
  add_executable(tuning_bench tuning_bench.cpp)
  target_include_directories(tuning_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(tuning_bench PRIVATE halvern_render PkgConfig::BENCH_SMF GTest::gtest)
  target_compile_definitions(tuning_bench PRIVATE
    HALVERN_RENDER_PATH="$<TARGET_FILE:halvern-render>"
    HALVERN_TEST_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}/output")
  add_dependencies(tuning_bench halvern-render)
endif()

# Halvern Live's MIDI figures: keys held, sung notes found, the notes file's round trip.
if(TARGET halvern-render AND TARGET GTest::gtest)
  add_executable(notes_bench notes_bench.cpp)
  target_include_directories(notes_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(notes_bench PRIVATE halvern_render PkgConfig::BENCH_SMF GTest::gtest)
  target_compile_definitions(notes_bench PRIVATE
    HALVERN_RENDER_PATH="$<TARGET_FILE:halvern-render>"
    HALVERN_TEST_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}/output")
  add_dependencies(notes_bench halvern-render)
endif()
