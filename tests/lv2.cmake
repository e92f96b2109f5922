# The LV2 bundle as hosts load it: its Turtle checked against the installed LV2 vocabularies, the
# plug-in through lilv against the VST 2.x library and on a watched audio thread, a render through
# Debian's lv2file, and the UI in a small host under Xvfb.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HALVERN_TEST_LILV REQUIRED IMPORTED_TARGET lilv-0)
pkg_get_variable(HALVERN_LV2_SPEC_PREFIX lv2 prefix)
set(HALVERN_LV2_SPEC_DIR ${HALVERN_LV2_SPEC_PREFIX}/lib/lv2)
set(HALVERN_LV2_BUNDLE ${HALVERN_LV2_DIR}/Halvern.lv2)
set(HALVERN_LIVE_LV2_BUNDLE ${HALVERN_LV2_DIR}/HalvernLive.lv2)

# Every test here needs the whole bundle built.
function(halvern_lv2_test name)
  halvern_add_test(${name} ${ARGN})
  target_compile_definitions(${name} PRIVATE
    HALVERN_LV2_DIR="${HALVERN_LV2_DIR}"
    HALVERN_LV2_BUNDLE="${HALVERN_LV2_BUNDLE}"
    HALVERN_LIVE_LV2_BUNDLE="${HALVERN_LIVE_LV2_BUNDLE}"
    HALVERN_LV2_SPEC_DIR="${HALVERN_LV2_SPEC_DIR}"
    HALVERN_VERSION="${PROJECT_VERSION}")
  add_dependencies(${name} halvern_lv2 halvern_live_lv2)
  if(TARGET halvern_lv2_ui)
    add_dependencies(${name} halvern_lv2_ui halvern_live_lv2_ui)
  endif()
endfunction()

# lv2_validate (lv2-dev, with sord_validate from sordi) against the installed vocabularies.
add_test(NAME test_lv2_validate
         COMMAND lv2_validate ${HALVERN_LV2_BUNDLE}/manifest.ttl ${HALVERN_LV2_BUNDLE}/halvern.ttl
                 ${HALVERN_LV2_BUNDLE}/presets.ttl ${HALVERN_LIVE_LV2_BUNDLE}/manifest.ttl
                 ${HALVERN_LIVE_LV2_BUNDLE}/halvern_live.ttl ${HALVERN_LIVE_LV2_BUNDLE}/presets.ttl)
set_tests_properties(test_lv2_validate PROPERTIES
  PASS_REGULAR_EXPRESSION "Found 0 errors among"
  FAIL_REGULAR_EXPRESSION "warning|error:")

halvern_lv2_test(test_lv2_plugin SOURCES test_lv2_plugin.cpp
                 LIBS halvern_host halvern_render PkgConfig::HALVERN_TEST_LILV)

# run() on a watched audio thread: no heap call, no system call.
halvern_lv2_test(test_lv2_realtime SOURCES test_lv2_realtime.cpp LIBS PkgConfig::HALVERN_TEST_LILV)

halvern_lv2_test(test_lv2_render SOURCES test_lv2_render.cpp LIBS halvern_render)

# halvern_x11host (x11.cmake) is built wherever the X11 layer is.
if(TARGET halvern_lv2_ui AND TARGET halvern_gui_x11)
  halvern_lv2_test(test_lv2_ui SOURCES test_lv2_ui.cpp
                   LIBS halvern_x11host PkgConfig::HALVERN_TEST_LILV)
  target_compile_definitions(test_lv2_ui PRIVATE
    HALVERN_EDITOR_PNG_TOOL="$<TARGET_FILE:halvern-editor-png>")
  add_dependencies(test_lv2_ui halvern-editor-png)
endif()
