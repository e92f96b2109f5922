# The editor in Linux hosts: the X11 window layer under a private Xvfb that each test program
# starts and stops itself. Input comes from xdotool while the test host idles the editor.
if(TARGET halvern_gui_x11)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HALVERN_TEST_X11 REQUIRED IMPORTED_TARGET x11 cairo)
  add_library(halvern_x11host STATIC x11host/xserver.cpp x11host/editorhost.cpp)
  target_include_directories(halvern_x11host PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/x11host)
  target_link_libraries(halvern_x11host PUBLIC halvern_host PkgConfig::HALVERN_TEST_X11)

  # The test host as a program, to look at the editor without a DAW:
  #   build/tests/halvern-x11host [--seconds N] [--screenshot FILE.png]
  add_executable(halvern-x11host x11host/halvern-x11host.cpp)
  target_link_libraries(halvern-x11host PRIVATE halvern_x11host)
  target_compile_definitions(halvern-x11host PRIVATE HALVERN_PLUGIN_PATH="$<TARGET_FILE:Halvern>")
  add_dependencies(halvern-x11host Halvern)

  # The window layer under the toolkit, without the plug-in.
  halvern_add_test(test_x11_window SOURCES test_x11_window.cpp LIBS halvern_gui_x11 halvern_x11host)

  # The plug-in as a Linux host loads it, when it was built with the X11 layer.
  if(HALVERN_GUI_WINDOW STREQUAL "x11")
    halvern_add_test(test_x11_editor SOURCES test_x11_editor.cpp
                     LIBS halvern_x11host halvern_render)
    target_compile_definitions(test_x11_editor PRIVATE
      HALVERN_EDITOR_PNG_TOOL="$<TARGET_FILE:halvern-editor-png>")
    add_dependencies(test_x11_editor halvern-editor-png)
  endif()
endif()
