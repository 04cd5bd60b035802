# Recording through the real DLL: the panel's buttons, the files they leave
# and the blocks the host received; and the same files read back natively.
target_sources(plugin_wine_tests PRIVATE
  recorder_file_test.cpp
  recorder_panel_test.cpp
  recorder_readback_test.cpp)
include(${PROJECT_SOURCE_DIR}/tests/readback/readback.cmake)
