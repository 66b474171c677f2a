# qm_embed_files(OUT_VAR DIR file symbol [file symbol ...])
# A file is relative to the source tree, or absolute (say, one made by the build).
# Generates one .cpp per file holding its bytes and a header embedded.h that
# declares `std::string_view qm::embedded::<symbol>()` for each of them.
function(qm_embed_files out_var dir)
  set(args ${ARGN})
  set(sources "")
  set(decls "")
  list(LENGTH args n)
  if(n GREATER 0)
    math(EXPR last "${n} - 1")
    foreach(i RANGE 0 ${last} 2)
      math(EXPR j "${i} + 1")
      list(GET args ${i} file)
      list(GET args ${j} symbol)
      cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE input)
      set(output ${dir}/embedded_${symbol}.cpp)
      add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${symbol}
                -P ${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake
        DEPENDS ${input} ${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake
        COMMENT "Embedding ${file}")
      list(APPEND sources ${output})
      string(APPEND decls "std::string_view ${symbol}();\n")
    endforeach()
  endif()
  file(MAKE_DIRECTORY ${dir})
  file(CONFIGURE OUTPUT ${dir}/embedded.h CONTENT
"// Generated at build time from files in the source tree; do not edit.
#pragma once
#include <string_view>
namespace qm::embedded {
${decls}}
")
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()
