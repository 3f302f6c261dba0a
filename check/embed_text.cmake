# Writes OUTPUT, a C++ header that holds the bytes of the file INPUT as
# check::embedded::NAME, a std::string_view over a constexpr array of chars, so that the
# checker carries the file (the report page's style sheet and script) without reading it
# at run time. Run as: cmake -DINPUT=FILE -DNAME=kName -DOUTPUT=HEADER -P embed_text.cmake
foreach(required INPUT NAME OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "embed_text.cmake needs -D${required}=...")
  endif()
endforeach()
file(READ "${INPUT}" hex HEX)
if(hex STREQUAL "")
  message(FATAL_ERROR "${INPUT} is empty")
endif()
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# Every byte as a character literal, sixteen to a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('[^']+',){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(from "${INPUT}" NAME)
file(WRITE "${OUTPUT}"
  "// Generated from ${from} by embed_text.cmake when the checker is built: do not edit.\n"
  "#pragma once\n\n#include <string_view>\n\nnamespace check::embedded {\n\n"
  "inline constexpr char ${NAME}Bytes[${size}] = {\n    ${bytes}\n};\n"
  "inline constexpr std::string_view ${NAME}(${NAME}Bytes, sizeof ${NAME}Bytes);\n\n"
  "}  // namespace check::embedded\n")
