# The module's door, as the 32-bit code it is.
target_sources(plugin_wine_tests PRIVATE ports_module_door_test.cpp)
target_link_libraries(plugin_wine_tests PRIVATE halvorn_ports)
