# halvorn-inspect.exe run under Wine as a user runs it, on recordings the real
# plug-in makes, and held against the native build's inspector
# (tests/windows_tools/inspector_test.sh).
set(HALVORN_NATIVE_BUILD_DIR "${CMAKE_BINARY_DIR}/../native" CACHE PATH
    "Native build whose tools (halvorn-inspect, halvorn-spectrum) the Windows programs' tests use")
find_program(HALVORN_BASH NAMES bash)
find_program(HALVORN_PYTHON NAMES python3)
find_program(HALVORN_SOX NAMES sox)
if(NOT HALVORN_BASH OR NOT HALVORN_PYTHON OR NOT HALVORN_SOX)
  message(WARNING "The Windows inspector's tests need bash, python3 and sox (scripts/setup.sh installs them); "
                  "they are not registered.")
  return()
endif()
foreach(case Conventions MatchesTheNativeInspector RepairsARecordingACrashLeftUnfinished)
  add_test(NAME WindowsInspector.${case}
    COMMAND ${HALVORN_BASH} ${PROJECT_SOURCE_DIR}/tests/windows_tools/inspector_test.sh ${case}
            ${PROJECT_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR} ${HALVORN_NATIVE_BUILD_DIR}
            ${CMAKE_BINARY_DIR}/tests/windows_tools/${case})
  # 77: the native inspector is not built, so there is nothing to compare with.
  set_tests_properties(WindowsInspector.${case} PROPERTIES
    TIMEOUT 120 RESOURCE_LOCK wine_desktop LABELS wine SKIP_RETURN_CODE 77)
endforeach()
