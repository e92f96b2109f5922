# The editor on the headless window, with the effect created as the entry point creates it (and
# Live's as its LV2 UI makes it).
halvern_add_test(test_editor SOURCES test_editor.cpp ../lv2/uieffect.cpp ../lv2/liveuikind.cpp
                 LIBS halvern_live_shell_headless)
target_include_directories(test_editor PRIVATE ../lv2 ../tools)
find_package(PkgConfig REQUIRED)
pkg_check_modules(HALVERN_TEST_CAIRO REQUIRED IMPORTED_TARGET cairo)
halvern_add_test(test_editor_png SOURCES test_editor_png.cpp LIBS PkgConfig::HALVERN_TEST_CAIRO)
target_compile_definitions(test_editor_png PRIVATE
  HALVERN_EDITOR_PNG_TOOL="$<TARGET_FILE:halvern-editor-png>"
  HALVERN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  HALVERN_BUILD_DIR="${PROJECT_BINARY_DIR}")
# The README's pictures are drawn again by scripts/make-pictures.sh, with the demo and renderer.
add_dependencies(test_editor_png halvern-editor-png halvern-render makedemo)
