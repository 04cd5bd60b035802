# Recording through the real DLL: the panel's buttons, the files they leave
# and the blocks the host received; the same files read back natively; and
# what a process that ends while recording leaves.
target_sources(plugin_wine_tests PRIVATE
  recorder_exit_test.cpp
  recorder_file_test.cpp
  recorder_panel_test.cpp
  recorder_readback_test.cpp)
include(${PROJECT_SOURCE_DIR}/tests/readback/readback.cmake)

# A host killed with SIGKILL while recording leaves a file every reader opens.
foreach(rate 250k 2M)
  add_test(NAME RecordingKill.${rate}
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/crash/recording_kill_test.sh ${rate}
            ${PROJECT_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/tests/recording_kill/${rate})
  set_tests_properties(RecordingKill.${rate} PROPERTIES TIMEOUT 180 RESOURCE_LOCK wine_desktop LABELS wine)
endforeach()
