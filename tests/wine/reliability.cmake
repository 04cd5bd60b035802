# A randomised host session and fault injection through the real DLL.
target_sources(plugin_wine_tests PRIVATE
  reliability_session_test.cpp
  reliability_fault_test.cpp)

# The soak: a program of its own, run for 30 seconds here and for as long as
# wanted by hand (scripts/soak.sh). It lives beside the test programs, one
# level below the DLLs.
add_executable(halvorn_soak ${PROJECT_SOURCE_DIR}/tests/soak/soak_main.cpp)
set_target_properties(halvorn_soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(halvorn_soak PRIVATE halvorn_test_oracles extio_host_support)
add_dependencies(halvorn_soak ExtIO_halvorn halvornusb)
add_test(NAME reliability_soak_30s
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/soak.sh --in-session --program $<TARGET_FILE:halvorn_soak> 30)
set_tests_properties(reliability_soak_30s PROPERTIES TIMEOUT 300 RESOURCE_LOCK wine_desktop LABELS wine)
