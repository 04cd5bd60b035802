# Builds the Windows package (cmake -P): a folder ExtIO_halvorn-<version>-win32
# with the plug-in, the user's README (CRLF line ends, as Windows editors
# expect) and the simulator folder, zipped into PACKAGE.
#   cmake -DVERSION=.. -DPLUGIN=.. -DSIMULATOR=.. -DHOST=.. -DREADME=..
#         -DSIMULATOR_README=.. -DSTAGE=<scratch dir> -DPACKAGE=<zip> -P make_package.cmake
# Today's policies: under the old ones "@VERSION@" below would be expanded
# before the replace could look for it.
cmake_minimum_required(VERSION 3.25)
foreach(input VERSION PLUGIN SIMULATOR HOST README SIMULATOR_README STAGE PACKAGE)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "make_package.cmake needs -D${input}=...")
  endif()
endforeach()

set(top "ExtIO_halvorn-${VERSION}-win32")
file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}/${top}/simulator")

function(copy_text source destination)
  file(READ "${source}" text)
  string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${destination}" "${text}")
endfunction()

file(COPY "${PLUGIN}" DESTINATION "${STAGE}/${top}")
copy_text("${README}" "${STAGE}/${top}/README.txt")
file(COPY "${SIMULATOR}" "${HOST}" DESTINATION "${STAGE}/${top}/simulator")
copy_text("${SIMULATOR_README}" "${STAGE}/${top}/simulator/README.txt")

file(REMOVE "${PACKAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${PACKAGE}" --format=zip "${top}"
                WORKING_DIRECTORY "${STAGE}" RESULT_VARIABLE zipped)
if(NOT zipped EQUAL 0)
  message(FATAL_ERROR "could not write ${PACKAGE}")
endif()
