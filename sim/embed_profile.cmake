# Writes OUTPUT, a C++ source that holds the bytes of INPUT (a built-in
# profile or overlay of sim/profiles/) as SimPrinter::FUNCTION.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}
"// Generated at build time from sim/profiles/${name}; do not edit.
#include \"kvprtobj/kvprtsim.h\"

namespace {
constexpr unsigned char kProfile[] = {${bytes} 0x00};
}  // namespace

std::string_view kvsim::SimPrinter::${FUNCTION}() {
    return {reinterpret_cast<const char*>(kProfile), sizeof kProfile - 1};
}
")
