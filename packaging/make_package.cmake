# Builds the Windows package (cmake -P): a folder ExtIO_halvorn-<version>-win32
# with the plug-in, the user's README, the licence and the changelog (CRLF
# line ends, as Windows editors expect), halvorn-inspect.exe in a tools
# folder and the simulator folder, zipped into PACKAGE. The binaries go in
# stripped; their debug information stays in DEBUG_DIR, each file named by
# the binary's .gnu_debuglink, for turning crash addresses into source lines.
#   cmake -DVERSION=.. -DOBJCOPY=.. -DPLUGIN=.. -DSIMULATOR=.. -DHOST=.. -DINSPECTOR=..
#         -DREADME=.. -DSIMULATOR_README=.. -DLICENSE=.. -DCHANGELOG=..
#         -DSTAGE=<scratch dir> -DDEBUG_DIR=<dir> -DPACKAGE=<zip> -P make_package.cmake
# Today's policies: under the old ones "@VERSION@" below would be expanded
# before the replace could look for it.
cmake_minimum_required(VERSION 3.25)
foreach(input VERSION OBJCOPY PLUGIN SIMULATOR HOST INSPECTOR README SIMULATOR_README LICENSE CHANGELOG STAGE
              DEBUG_DIR PACKAGE)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "make_package.cmake needs -D${input}=...")
  endif()
endforeach()

set(top "ExtIO_halvorn-${VERSION}-win32")
file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}/${top}/simulator" "${STAGE}/${top}/tools" "${DEBUG_DIR}")

function(copy_text source destination)
  file(READ "${source}" text)
  string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${destination}" "${text}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed)
  if(failed)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${failed}): ${command}")
  endif()
endfunction()

# The debug sections move to DEBUG_DIR/<name>.debug; the copy in the package
# keeps only what Windows loads, and the name and checksum of that file.
function(copy_stripped binary destination_folder)
  get_filename_component(name "${binary}" NAME)
  set(debug "${DEBUG_DIR}/${name}.debug")
  run("${OBJCOPY}" --only-keep-debug "${binary}" "${debug}")
  run("${OBJCOPY}" --strip-all "--add-gnu-debuglink=${debug}" "${binary}" "${destination_folder}/${name}")
endfunction()

copy_stripped("${PLUGIN}" "${STAGE}/${top}")
copy_text("${README}" "${STAGE}/${top}/README.txt")
copy_text("${LICENSE}" "${STAGE}/${top}/LICENSE.txt")
copy_text("${CHANGELOG}" "${STAGE}/${top}/CHANGELOG.txt")
copy_stripped("${INSPECTOR}" "${STAGE}/${top}/tools")
copy_stripped("${SIMULATOR}" "${STAGE}/${top}/simulator")
copy_stripped("${HOST}" "${STAGE}/${top}/simulator")
copy_text("${SIMULATOR_README}" "${STAGE}/${top}/simulator/README.txt")

file(REMOVE "${PACKAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${PACKAGE}" --format=zip "${top}"
                WORKING_DIRECTORY "${STAGE}" RESULT_VARIABLE zipped)
if(NOT zipped EQUAL 0)
  message(FATAL_ERROR "could not write ${PACKAGE}")
endif()
