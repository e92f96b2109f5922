halvern_add_test(test_fft SOURCES test_fft.cpp LIBS halvern_numeric)
halvern_add_test(test_interpolate SOURCES test_interpolate.cpp LIBS halvern_numeric)
