# qm_layer(NAME FOLDERS folder... SOURCES file... [LINKS library...])
# A static library for one layer. Its sources see only the listed folders of
# src/: the layer's include root in the build tree holds a link to each of
# them and nothing else, so `#include "engine/x.h"` from a layer below the
# engine fails to compile. LINKS names the layers directly below it.
function(qm_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 LAYER "" "" "FOLDERS;SOURCES;LINKS")
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(folder ${LAYER_FOLDERS})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  add_library(${name} STATIC ${LAYER_SOURCES})
  target_include_directories(${name} PRIVATE ${root})
  target_compile_options(${name} PRIVATE ${QM_WARNINGS})
  set_property(GLOBAL APPEND PROPERTY QM_LAYER_LIBRARIES ${name})
  if(LAYER_LINKS)
    target_link_libraries(${name} PUBLIC ${LAYER_LINKS})
  endif()
endfunction()
