# Recording through the real DLL: the panel's buttons, the files they leave
# and the blocks the host received; the same files read back natively; and
# what a process that ends while recording leaves.
target_sources(plugin_wine_tests PRIVATE
  recorder_exit_test.cpp
  recorder_file_test.cpp
  recorder_panel_test.cpp
  recorder_readback_test.cpp)
include(${PROJECT_SOURCE_DIR}/tests/readback/readback.cmake)
