# f0 estimation, contour selection and the dump file.
halvern_add_test(test_f0contour SOURCES test_f0contour.cpp LIBS halvern_engine)
halvern_add_test(test_f0map SOURCES test_f0map.cpp LIBS halvern_engine)
halvern_add_test(test_f0estimation SOURCES test_f0estimation.cpp LIBS halvern_engine)
halvern_add_test(test_f0plugin SOURCES test_f0plugin.cpp LIBS halvern_host halvern_engine)
halvern_add_test(test_fixedtext SOURCES test_fixedtext.cpp LIBS halvern_engine)
