halvorn_native_tests(tools_tests tools_inspector_test.cpp)
target_link_libraries(tools_tests PRIVATE PkgConfig::SNDFILE)
target_compile_definitions(tools_tests PRIVATE HALVORN_INSPECT="$<TARGET_FILE:halvorn-inspect>")
add_dependencies(tools_tests halvorn-inspect)

# The spectrum picture tool, run as a program, and its parts.
target_sources(tools_tests PRIVATE tools_spectrum_test.cpp)
target_link_libraries(tools_tests PRIVATE halvorn_spectrum)
target_compile_definitions(tools_tests PRIVATE HALVORN_SPECTRUM="$<TARGET_FILE:halvorn-spectrum>")
add_dependencies(tools_tests halvorn-spectrum)
