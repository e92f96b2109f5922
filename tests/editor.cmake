# The editor on the headless window, with the effect created as the entry point creates it.
halvern_add_test(test_editor SOURCES test_editor.cpp LIBS halvern_shell)
