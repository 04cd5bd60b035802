halvorn_native_tests(tools_tests tools_inspector_test.cpp)
target_link_libraries(tools_tests PRIVATE PkgConfig::SNDFILE)
target_compile_definitions(tools_tests PRIVATE HALVORN_INSPECT="$<TARGET_FILE:halvorn-inspect>")
add_dependencies(tools_tests halvorn-inspect)

# The spectrum picture tool, run as a program, and its parts.
target_sources(tools_tests PRIVATE tools_spectrum_test.cpp)
target_link_libraries(tools_tests PRIVATE halvorn_spectrum)
target_compile_definitions(tools_tests PRIVATE HALVORN_SPECTRUM="$<TARGET_FILE:halvorn-spectrum>")
add_dependencies(tools_tests halvorn-spectrum)

# Files other programs write (sox), and the SigMF output read by Python's
# JSON parser.
find_program(HALVORN_SOX NAMES sox REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
target_link_libraries(tools_tests PRIVATE halvorn_inspector halvorn_command_line halvorn_version)
target_compile_definitions(tools_tests PRIVATE
  HALVORN_SOX="${HALVORN_SOX}"
  HALVORN_PYTHON="${Python3_EXECUTABLE}"
  HALVORN_SIGMF_FIELDS="${CMAKE_CURRENT_SOURCE_DIR}/sigmf_fields.py")
target_sources(tools_tests PRIVATE tools_command_line_test.cpp tools_pair_reader_test.cpp)

# README.md's numpy reader, run as an analyst would, under a Python with numpy:
# Debian's, where scripts/setup.sh installs it, unless the first python3 has
# numpy too.
set(HALVORN_NUMPY_PYTHON "")
foreach(candidate ${Python3_EXECUTABLE} /usr/bin/python3)
  execute_process(COMMAND ${candidate} -c "import numpy" RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
  if(NOT missing)
    set(HALVORN_NUMPY_PYTHON ${candidate})
    break()
  endif()
endforeach()
if(NOT HALVORN_NUMPY_PYTHON)
  message(WARNING "No python3 with numpy (scripts/setup.sh installs python3-numpy): the README reader's test skips.")
endif()
target_compile_definitions(tools_tests PRIVATE
  HALVORN_NUMPY_PYTHON="${HALVORN_NUMPY_PYTHON}"
  HALVORN_README_READER="${CMAKE_CURRENT_SOURCE_DIR}/readme_reader.py"
  HALVORN_README="${PROJECT_SOURCE_DIR}/README.md")
