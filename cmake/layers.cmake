# Each subsystem folder builds one static library that sees only its own
# folder and the folders of the libraries it links. A library's include path
# is a directory in the build tree holding one link, to its own folder, so a
# header included against the layering is simply not found and the build
# fails.
#
#   halvorn_layer(<target> <folder> SOURCES <files...> [DEPENDS <targets...>])
function(halvorn_layer target folder)
  cmake_parse_arguments(LAYER "" "" "SOURCES;DEPENDS" ${ARGN})
  set(view ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${view})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
  add_library(${target} STATIC ${LAYER_SOURCES})
  target_include_directories(${target} PUBLIC ${view})
  target_link_libraries(${target} PUBLIC ${LAYER_DEPENDS})
endfunction()
