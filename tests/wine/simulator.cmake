# The simulated receiver DLL itself, loaded the Windows way.
target_sources(plugin_wine_tests PRIVATE simulator_library_test.cpp)
