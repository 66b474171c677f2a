# Script mode: writes OUTPUT, a C++ file returning the bytes of INPUT.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(([^,]*,){32})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.
#include <string_view>
namespace qm::embedded {
namespace { constexpr char data_[] = {${bytes} '\\0'}; }
std::string_view ${SYMBOL}() { return std::string_view(data_, ${size}); }
}
")
