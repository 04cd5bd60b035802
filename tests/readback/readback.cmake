# The real DLL's recordings read back by independent readers. A Wine test
# leaves its recordings and the blocks the host received in a directory
# (HALVORN_READBACK_DIR); readback_check, a native program built here with the
# build machine's own compiler, then reads them with libsndfile and sox. One
# ctest test runs both steps (readback_test.sh). Included by the Windows
# build's Wine tests, whose program makes the recordings.
find_program(HALVORN_HOST_CXX NAMES c++ g++)
find_program(HALVORN_HOST_PKG_CONFIG NAMES pkg-config)
find_program(HALVORN_SOX NAMES sox)
find_program(HALVORN_BASH NAMES bash)
if(HALVORN_HOST_PKG_CONFIG)
  execute_process(COMMAND ${HALVORN_HOST_PKG_CONFIG} --cflags --libs sndfile
    OUTPUT_VARIABLE halvorn_sndfile_flags RESULT_VARIABLE halvorn_sndfile_missing
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT HALVORN_HOST_CXX OR NOT HALVORN_HOST_PKG_CONFIG OR halvorn_sndfile_missing OR NOT HALVORN_SOX
   OR NOT HALVORN_BASH)
  message(WARNING "The readback test needs a native C++ compiler, libsndfile (pkg-config sndfile), sox and bash "
                  "(scripts/setup.sh installs them); it is not registered.")
  return()
endif()
separate_arguments(halvorn_sndfile_flags UNIX_COMMAND "${halvorn_sndfile_flags}")

set(halvorn_readback_check ${CMAKE_CURRENT_BINARY_DIR}/readback_check)
add_custom_command(OUTPUT ${halvorn_readback_check}
  COMMAND ${HALVORN_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
          -I${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_LIST_DIR}/readback_check.cpp -o ${halvorn_readback_check}
          ${halvorn_sndfile_flags}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/readback_check.cpp ${PROJECT_SOURCE_DIR}/tests/support/stored_form.h
  COMMENT "Building the native readback checker"
  VERBATIM)
add_custom_target(readback_checker ALL DEPENDS ${halvorn_readback_check})

add_test(NAME RecorderReadback.LibsndfileAndSoxReadTheRecordingsAsTheHostReceivedThem
  COMMAND ${HALVORN_BASH} ${CMAKE_CURRENT_LIST_DIR}/readback_test.sh
          ${PROJECT_SOURCE_DIR}/scripts/wine-run $<TARGET_FILE:plugin_wine_tests> ${halvorn_readback_check}
          ${CMAKE_CURRENT_BINARY_DIR}/readback)
set_tests_properties(RecorderReadback.LibsndfileAndSoxReadTheRecordingsAsTheHostReceivedThem PROPERTIES
  TIMEOUT 300 RESOURCE_LOCK wine_desktop LABELS wine)
