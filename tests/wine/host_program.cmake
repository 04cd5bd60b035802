# The host program's tests, included by host/CMakeLists.txt in the Windows
# build. Its parts (options, rate meter, capture ring, callback, BMP header,
# message-box watcher) run in a GoogleTest program under Wine; whole sessions
# of extio_host.exe run from tests/host_program/host_program_test.sh, which
# checks exit status and output and reads the recordings back with the
# native build's tools (halvorn-inspect, halvorn-spectrum).
include(GoogleTest)

add_executable(host_program_tests ${CMAKE_CURRENT_LIST_DIR}/host_program_test.cpp)
set_target_properties(host_program_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(host_program_tests PRIVATE extio_host_parts gtest gtest_main)
# The watcher's tests show message boxes and dialogs on the shared desktop.
gtest_discover_tests(host_program_tests
  DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES TIMEOUT 120 RESOURCE_LOCK wine_desktop LABELS wine)

set(HALVORN_NATIVE_BUILD_DIR "${CMAKE_BINARY_DIR}/../native" CACHE PATH
    "Native build whose tools (halvorn-inspect, halvorn-spectrum) the host program's tests use")
find_program(HALVORN_BASH NAMES bash)
find_program(HALVORN_PYTHON NAMES python3)
if(NOT HALVORN_BASH OR NOT HALVORN_PYTHON)
  message(WARNING "The host program's session tests need bash and python3 (scripts/setup.sh installs them); "
                  "they are not registered.")
  return()
endif()

set(halvorn_host_cases
  Help UsageErrors MissingPlugin NotAPlugin InitHwFailsWithoutTheDeviceLibrary BlocksThatNeverComeTripTheWatchdog
  AStartThatStreamsNothingIsReported
  RecordsTheSceneAndTheToolsFindItsCarriers CaptureHoldsEveryPairInOrder
  ARateChosenOnThePanelMidStreamRestartsTheStream ARecordingThatCannotStartIsReported CtrlCEndsTheSessionCleanly
  ListsThePlugInsOwnMenus RateAndAttenuatorThroughTheExtendedEntryPoints)
foreach(row RANGE 0 8)
  list(APPEND halvorn_host_cases RateRow${row}MeasuresAsReportedWithoutDrops)
endforeach()
foreach(case IN LISTS halvorn_host_cases)
  add_test(NAME HostProgram.${case}
    COMMAND ${HALVORN_BASH} ${PROJECT_SOURCE_DIR}/tests/host_program/host_program_test.sh ${case}
            ${PROJECT_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR} ${HALVORN_NATIVE_BUILD_DIR}
            ${CMAKE_BINARY_DIR}/tests/host_program/${case})
  # 77: the native tools are not built, so the recording cannot be read back.
  set_tests_properties(HostProgram.${case} PROPERTIES
    TIMEOUT 120 RESOURCE_LOCK wine_desktop LABELS wine SKIP_RETURN_CODE 77)
endforeach()
