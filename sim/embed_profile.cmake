# Writes OUTPUT, a C++ source that holds the bytes of INPUT (the built-in
# profile) as SimPrinter::defaultProfileJson.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUTPUT}
"// Generated at build time from sim/profiles/default.json; do not edit.
#include \"kvprtobj/kvprtsim.h\"

namespace {
constexpr unsigned char kDefaultProfile[] = {${bytes} 0x00};
}  // namespace

std::string_view kvsim::SimPrinter::defaultProfileJson() {
    return {reinterpret_cast<const char*>(kDefaultProfile), sizeof kDefaultProfile - 1};
}
")
