target_sources(plugin_wine_tests PRIVATE exports_test.cpp plugin_exit_test.cpp plugin_extended_entry_points_test.cpp
  plugin_init_test.cpp plugin_truthful_results_test.cpp)

# Hosts that load, drive and unload the plug-in from any thread, each
# scenario run many times, each run a process of its own under a watchdog.
add_executable(host_scenarios ${PROJECT_SOURCE_DIR}/tests/host_scenarios/host_scenarios.cpp)
set_target_properties(host_scenarios PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(host_scenarios PRIVATE extio_host_support)
add_dependencies(host_scenarios ExtIO_halvorn halvornusb)
foreach(scenario
    unload-from-a-third-thread unload-after-a-refused-stop unload-after-a-refused-stop-and-close
    a-callback-that-waits-on-the-unloading-thread a-message-box-keeps-the-host-from-closing-under-it
    an-unload-while-a-message-is-open-on-another-thread entry-points-from-a-worker-the-window-thread-waits-for
    a-restart-while-the-last-thread-is-in-the-callback loading-while-another-thread-reads-windows
    a-panel-shown-from-a-thread-that-never-pumps-answers a-panel-shown-from-a-thread-that-ended-answers
    a-gui-thread-that-pumps-on-after-the-unload-gets-nothing-of-the-plugin
    the-last-panel-call-wins-whatever-thread-made-it an-unload-while-streaming
    an-unload-while-streaming-from-another-thread an-unload-after-stophw an-unload-after-closehw)
  add_test(NAME HostScenario.${scenario} COMMAND host_scenarios --repeat 5 ${scenario})
  set_tests_properties(HostScenario.${scenario} PROPERTIES TIMEOUT 600 RESOURCE_LOCK wine_desktop LABELS wine)
endforeach()
