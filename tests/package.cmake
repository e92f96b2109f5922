# The Linux release archive: scripts/package.sh run on this build tree, unpacked into an empty
# prefix, and used from there. (The Windows archive is checked by scripts/run-windows-tests.sh,
# which builds the DLLs.)
halvern_add_test(test_package SOURCES test_package.cpp)
target_compile_definitions(test_package PRIVATE
  HALVERN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  HALVERN_BINARY_DIR="${PROJECT_BINARY_DIR}"
  HALVERN_LV2_DIR="${HALVERN_LV2_DIR}"
  HALVERN_VERSION="${PROJECT_VERSION}"
  HALVERN_RENDER_PATH="$<TARGET_FILE:halvern-render>"
  HALVERN_MAKEDEMO_PATH="$<TARGET_FILE:makedemo>")
add_dependencies(test_package halvern-render makedemo halvern_lv2 halvern_live_lv2)
if(TARGET halvern_lv2_ui)
  add_dependencies(test_package halvern_lv2_ui halvern_live_lv2_ui)
endif()
