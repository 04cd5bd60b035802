# The simulated receiver library, loaded as the plug-in loads it.
halvorn_native_tests(simulator_tests
  simulator_journal_test.cpp
  simulator_scene_test.cpp
  simulator_source_test.cpp
  simulator_stream_test.cpp)
