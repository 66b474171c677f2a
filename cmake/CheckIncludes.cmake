# Run as a build step (cmake -DSOURCE_DIR=src -DRULES=rules.txt -P ...):
# reads every quoted include of every file under SOURCE_DIR and fails, naming
# each offence, when one climbs with "../", names a folder that is no layer,
# or names a layer that the including file's layer may not use. RULES holds
# one line per layer: "folder: used-folder used-folder ...". A file in no
# layer's folder (the program's main.cpp) may include any layer.
cmake_minimum_required(VERSION 3.25)
file(STRINGS ${RULES} rule_lines)
set(layers "")
foreach(line ${rule_lines})
  string(REGEX MATCH "^([^:]+):(.*)$" _ "${line}")
  set(folder ${CMAKE_MATCH_1})
  string(STRIP "${CMAKE_MATCH_2}" uses)
  separate_arguments(uses UNIX_COMMAND "${uses}")
  list(APPEND layers ${folder})
  set(uses_${folder} ${uses})
endforeach()

# layer_of(OUT path): the longest layer folder that `path` lies in, or "".
function(layer_of out path)
  set(best "")
  foreach(folder ${layers})
    string(LENGTH "${folder}" length)
    string(LENGTH "${best}" best_length)
    if(path MATCHES "^${folder}/" AND length GREATER best_length)
      set(best ${folder})
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(offences "")
foreach(source ${sources})
  layer_of(own ${source})
  file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${includes})
    string(REGEX MATCH "\"([^\"]*)\"" _ "${line}")
    set(included ${CMAKE_MATCH_1})
    if(included MATCHES "(^|/)\\.\\.(/|$)")
      string(APPEND offences "  src/${source} includes \"${included}\": no include may climb with \"../\".\n")
      continue()
    endif()
    if(NOT included MATCHES "/")
      continue()  # a file beside it, or one the build generates
    endif()
    layer_of(target ${included})
    if(target STREQUAL "")
      string(APPEND offences "  src/${source} includes \"${included}\", which is in no layer's folder.\n")
    elseif(NOT own STREQUAL "" AND NOT target STREQUAL own AND NOT target IN_LIST uses_${own})
      string(REPLACE ";" ", " allowed "${uses_${own}}")
      if(allowed STREQUAL "")
        set(allowed "itself")
      endif()
      string(APPEND offences
        "  src/${source} includes \"${included}\": ${own} may use only ${allowed}, not ${target}.\n")
    endif()
  endforeach()
endforeach()

if(NOT offences STREQUAL "")
  message(FATAL_ERROR "Includes that run the wrong way between the layers (docs/architecture.md):\n${offences}")
endif()
