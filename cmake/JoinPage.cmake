# Script mode: writes OUTPUT, the one HTML document the window server sends,
# from the page's files. DOCUMENT holds the HTML with the marker {{STYLES}}
# inside its <style> element and {{SCRIPTS}} inside its <script> element, each
# alone on its line; that line is replaced by the files listed in STYLES or
# SCRIPTS, joined in the order given. A missing or repeated marker, or a part
# holding the closing tag of its element (which would end the element early
# and let the rest be read as markup), stops the build with a message.

# Joins the files in ARGN into out_var, each ending with a line break so that
# a file's last line (say a // comment) cannot run into the next file.
function(qm_join_parts out_var closing_tag)
  set(joined "")
  foreach(part IN LISTS ARGN)
    file(READ "${part}" text)
    string(TOLOWER "${text}" lowered)
    string(FIND "${lowered}" "</${closing_tag}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${part} contains </${closing_tag}, which would end the page's <${closing_tag}> element early.")
    endif()
    string(LENGTH "${text}" length)
    if(length GREATER 0)
      math(EXPR last "${length} - 1")
      string(SUBSTRING "${text}" ${last} 1 last_char)
      if(NOT last_char STREQUAL "\n")
        string(APPEND text "\n")
      endif()
    endif()
    # A script's lines that hold only a comment are for its readers, not the
    # browser: they go, so the page is smaller to send and to parse.
    if(closing_tag STREQUAL "script")
      string(REGEX REPLACE "^[ \t]*//[^\n]*\n" "" text "${text}")
      string(REGEX REPLACE "\n[ \t]*//[^\n]*" "" text "${text}")
    endif()
    string(APPEND joined "${text}")
  endforeach()
  set(${out_var} "${joined}" PARENT_SCOPE)
endfunction()

# Replaces the line holding `marker` in document_var by `content`.
function(qm_put_in_place document_var marker content)
  set(document "${${document_var}}")
  string(FIND "${document}" "${marker}" at)
  string(FIND "${document}" "${marker}" last_at REVERSE)
  if(at EQUAL -1)
    message(FATAL_ERROR "${DOCUMENT} has no ${marker} line.")
  endif()
  if(NOT at EQUAL last_at)
    message(FATAL_ERROR "${DOCUMENT} has ${marker} more than once.")
  endif()
  string(SUBSTRING "${document}" 0 ${at} before)
  string(LENGTH "${marker}" marker_length)
  math(EXPR after_at "${at} + ${marker_length}")
  string(SUBSTRING "${document}" ${after_at} -1 after)
  # The marker's own line break goes; the content ends with one of its own.
  # (file(READ) has already turned any CR LF into LF.)
  string(FIND "${after}" "\n" break_at)
  if(break_at EQUAL 0)
    string(SUBSTRING "${after}" 1 -1 after)
  endif()
  set(${document_var} "${before}${content}${after}" PARENT_SCOPE)
endfunction()

file(READ "${DOCUMENT}" page)
qm_join_parts(styles style ${STYLES})
qm_join_parts(scripts script ${SCRIPTS})
qm_put_in_place(page "{{STYLES}}" "${styles}")
qm_put_in_place(page "{{SCRIPTS}}" "${scripts}")
file(WRITE "${OUTPUT}" "${page}")
