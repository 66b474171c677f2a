# qm_layer(NAME FOLDER folder USES folder... SOURCES file...)
# A static library for one layer: the folder FOLDER of src/, which may use
# the folders USES and nothing else. Two nets keep it so:
#  - its sources see only those folders: the layer's include root in the
#    build tree holds a link to each of them and to its own folder, so
#    `#include "engine/x.h"` from a layer below the engine does not compile;
#  - before anything is compiled, cmake/CheckIncludes.cmake reads every
#    quoted include of every layer and refuses one that names a folder the
#    layer may not use, or that climbs with "../" (which the compiler would
#    resolve from the including file's own folder, past the include root).
# The library links the libraries of the folders it uses.
function(qm_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 LAYER "" "FOLDER" "USES;SOURCES")
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  file(REMOVE_RECURSE ${root})
  foreach(folder ${LAYER_FOLDER} ${LAYER_USES})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  add_library(${name} STATIC ${LAYER_SOURCES})
  target_include_directories(${name} PRIVATE ${root})
  target_compile_options(${name} PRIVATE ${QM_WARNINGS})
  foreach(folder ${LAYER_USES})
    get_property(used GLOBAL PROPERTY QM_LAYER_OF_${folder})
    get_property(not_built GLOBAL PROPERTY QM_LAYER_NOT_BUILT_${folder})
    if(used)
      target_link_libraries(${name} PUBLIC ${used})
    elseif(NOT not_built)
      message(FATAL_ERROR "Layer ${name} uses ${folder}, which is no layer defined before it.")
    endif()
  endforeach()
  if(QM_CHECK_INCLUDES)
    add_dependencies(${name} quillmoor_include_check)
  endif()
  set_property(GLOBAL PROPERTY QM_LAYER_OF_${LAYER_FOLDER} ${name})
  set_property(GLOBAL APPEND PROPERTY QM_LAYER_LIBRARIES ${name})
  string(REPLACE ";" " " uses "${LAYER_USES}")
  set_property(GLOBAL APPEND_STRING PROPERTY QM_LAYER_RULES "${LAYER_FOLDER}: ${uses}\n")
endfunction()

# qm_layer_not_built(FOLDER folder USES folder...): the rule of a layer that
# this build does not compile (the other system's platform), so that its
# files are checked too and the layers above may name it.
function(qm_layer_not_built)
  cmake_parse_arguments(PARSE_ARGV 0 LAYER "" "FOLDER" "USES")
  set_property(GLOBAL PROPERTY QM_LAYER_NOT_BUILT_${LAYER_FOLDER} TRUE)
  string(REPLACE ";" " " uses "${LAYER_USES}")
  set_property(GLOBAL APPEND_STRING PROPERTY QM_LAYER_RULES "${LAYER_FOLDER}: ${uses}\n")
endfunction()

# qm_include_check(): the build step that runs cmake/CheckIncludes.cmake over
# src/ with the rules of every layer (one line "folder: uses..." each, in
# build/layers/rules.txt); call it after the last qm_layer.
function(qm_include_check)
  get_property(rules GLOBAL PROPERTY QM_LAYER_RULES)
  set(rules_file ${CMAKE_BINARY_DIR}/layers/rules.txt)
  file(WRITE ${rules_file} "${rules}")
  add_custom_target(quillmoor_include_check
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}/src -DRULES=${rules_file}
            -P ${CMAKE_SOURCE_DIR}/cmake/CheckIncludes.cmake
    COMMENT "Checking that every include runs down the layers"
    VERBATIM)
endfunction()
