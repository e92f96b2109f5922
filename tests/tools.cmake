# The offline renderer: its parsers, pitch tracker, plot and audio files, and the built tool end to
# end, against the real plug-in and against small stand-in plug-ins.
foreach(variant delay fixed null stereo)
  add_library(render_fixture_${variant} MODULE test_render_fixture_plugin.cpp)
  target_include_directories(render_fixture_${variant} PRIVATE ${PROJECT_SOURCE_DIR}/shell)
  target_compile_definitions(render_fixture_${variant} PRIVATE FIXTURE_VARIANT_${variant})
  set_target_properties(render_fixture_${variant} PROPERTIES PREFIX "")
endforeach()

pkg_check_modules(TEST_SMF REQUIRED IMPORTED_TARGET smf)
halvern_add_test(test_render_units SOURCES test_render_units.cpp LIBS halvern_render
                                                                   PkgConfig::TEST_SMF)

halvern_add_test(test_render_cli SOURCES test_render_cli.cpp LIBS halvern_render PkgConfig::TEST_SMF)
target_compile_definitions(test_render_cli PRIVATE
  HALVERN_RENDER_PATH="$<TARGET_FILE:halvern-render>"
  HALVERN_MAKEDEMO_PATH="$<TARGET_FILE:makedemo>"
  FIXTURE_DELAY_PLUGIN="$<TARGET_FILE:render_fixture_delay>"
  FIXTURE_FIXED_PLUGIN="$<TARGET_FILE:render_fixture_fixed>"
  FIXTURE_NULL_PLUGIN="$<TARGET_FILE:render_fixture_null>"
  FIXTURE_STEREO_PLUGIN="$<TARGET_FILE:render_fixture_stereo>")
add_dependencies(test_render_cli halvern-render makedemo render_fixture_delay render_fixture_fixed
                 render_fixture_null render_fixture_stereo)
