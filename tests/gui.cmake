# The editor's toolkit, driven through its headless window.
halvern_add_test(test_gui_drawing SOURCES test_gui_drawing.cpp LIBS halvern_gui_headless)
halvern_add_test(test_gui_views SOURCES test_gui_views.cpp LIBS halvern_gui_headless)
halvern_add_test(test_gui_controls SOURCES test_gui_controls.cpp LIBS halvern_gui_headless)
halvern_add_test(test_gui_frame SOURCES test_gui_frame.cpp LIBS halvern_gui_headless)
