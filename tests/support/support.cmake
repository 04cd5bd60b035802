# What the native tests and the Windows programs share. The oracles (the
# counting host, the recording oracle) need no test framework, so the soak
# uses them too; the randomised sessions and the fault walks drive either
# plug-in under test: the module built natively, or the real DLL (win32/).
set(support ${PROJECT_SOURCE_DIR}/tests/support)

add_library(halvorn_test_oracles STATIC
  ${support}/counting_host.cpp
  ${support}/recording_oracle.cpp)
target_include_directories(halvorn_test_oracles PUBLIC ${PROJECT_SOURCE_DIR})
# The product's rate table, block size and control identifiers.
target_link_libraries(halvorn_test_oracles PUBLIC halvorn_panel Threads::Threads)
if(WIN32)
  target_link_libraries(halvorn_test_oracles PUBLIC extio_host_support)
else()
  target_sources(halvorn_test_oracles PRIVATE ${PROJECT_SOURCE_DIR}/host/counting_pattern_checker.cpp)
endif()

add_library(halvorn_shared_test_support STATIC
  ${support}/fault_walk.cpp
  ${support}/randomised_session.cpp)
target_link_libraries(halvorn_shared_test_support PUBLIC halvorn_test_oracles)
if(WIN32)
  target_sources(halvorn_shared_test_support PRIVATE ${support}/win32/dll_plugin.cpp)
  target_link_libraries(halvorn_shared_test_support PUBLIC gtest)
else()
  target_link_libraries(halvorn_shared_test_support PUBLIC GTest::gtest)
endif()
