# The version is set once, in project() at the top of the build; everything
# else takes it from here: the programs' --version and the plug-in's trace
# (halvorn_version.h), the Windows binaries' version resources and the
# package's name.
configure_file(${CMAKE_CURRENT_LIST_DIR}/halvorn_version.h.in ${PROJECT_BINARY_DIR}/generated/halvorn_version.h @ONLY)
add_library(halvorn_version INTERFACE)
target_include_directories(halvorn_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

# Gives a Windows program or DLL a VERSIONINFO resource, so that its file
# properties tell what it is and which release it belongs to.
#   halvorn_version_resource(<target> "<what the file is, in a few words>")
function(halvorn_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(HALVORN_FILE_TYPE VFT_APP)
  else()
    set(HALVORN_FILE_TYPE VFT_DLL)
  endif()
  set(HALVORN_FILE_DESCRIPTION "${description}")
  set(HALVORN_INTERNAL_NAME "${target}")
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc.in)
  set(resource ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${configured} @ONLY)
  # The file's own name (OriginalFilename) is known only when generating.
  file(GENERATE OUTPUT ${resource} INPUT ${configured} TARGET ${target})
  target_sources(${target} PRIVATE ${resource})
endfunction()
