# The voice engine's second half: smoothing, snapping, pitch marks, grains and overlap-add.
halvern_add_test(test_f0postprocess SOURCES test_f0postprocess.cpp LIBS halvern_engine)
halvern_add_test(test_grains SOURCES test_grains.cpp LIBS halvern_engine)
halvern_add_test(test_resynthesis SOURCES test_resynthesis.cpp LIBS halvern_engine)
halvern_add_test(test_voice_end_to_end SOURCES test_voice_end_to_end.cpp LIBS halvern_host)
