find_package(PkgConfig REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)

halvorn_native_tests(recorder_tests
  recorder_wav_header_test.cpp
  recorder_recording_name_test.cpp
  recorder_sample_reduction_test.cpp
  recorder_file_test.cpp
  recorder_test.cpp
  recorder_panel_test.cpp
  recorder_ring_test.cpp
  recorder_block_reduction_test.cpp
  recorder_crash_test.cpp)
target_link_libraries(recorder_tests PRIVATE PkgConfig::SNDFILE)

# Counts allocations by replacing the global operator new: a program of its own.
halvorn_native_tests(recorder_allocation_tests recorder_allocation_test.cpp)
target_compile_options(recorder_allocation_tests PRIVATE -Wno-mismatched-new-delete)
