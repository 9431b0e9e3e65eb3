# Writes OUTPUT, a C++ source that holds the bytes of INPUT (a file of sim/:
# a built-in profile or overlay, the PJL variable map) as FUNCTION, a
# function returning std::string_view that HEADER declares.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(RELATIVE_PATH name ${CMAKE_CURRENT_LIST_DIR} ${INPUT})
file(WRITE ${OUTPUT}
"// Generated at build time from sim/${name}; do not edit.
#include \"${HEADER}\"

namespace {
constexpr unsigned char kText[] = {${bytes} 0x00};
}  // namespace

std::string_view ${FUNCTION}() {
    return {reinterpret_cast<const char*>(kText), sizeof kText - 1};
}
")
