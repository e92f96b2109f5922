# The toolkit on Windows (included by gui/CMakeLists.txt): the logic above platform/ with GDI
# drawing, module resources and the Win32 window. libpng and zlib are linked statically.
find_package(PNG REQUIRED)

set(HALVERN_GUI_WINDOW "win32" CACHE STRING "Window layer of the editor toolkit" FORCE)

file(GLOB halvern_toolkit_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
file(GLOB halvern_win32_sources CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/*.cpp)

add_library(halvern_gui_win32 STATIC ${halvern_toolkit_sources} ${halvern_win32_sources})
target_include_directories(halvern_gui_win32 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# msimg32 is not here on purpose: AlphaBlend and TransparentBlt are looked up at run time.
target_link_libraries(halvern_gui_win32 PUBLIC PNG::PNG user32 gdi32 ole32 shell32 uuid)
add_library(halvern_gui ALIAS halvern_gui_win32)
