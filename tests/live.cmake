# Halvern Live's streaming engine, judged by independent measurements of its output.
halvern_add_test(test_live_engine SOURCES test_live_engine.cpp LIBS halvern_live)
