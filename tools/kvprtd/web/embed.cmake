# Writes OUTPUT, a C++ source that holds the files FILES (names in DIR,
# separated by commas) as kvprtd's web assets (web.h), each as an array of
# its bytes.
string(REPLACE "," ";" FILES "${FILES}")
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS FILES)
  file(READ ${DIR}/${name} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "constexpr unsigned char kFile${index}[] = {${bytes}};\n")
  string(APPEND entries "    {\"${name}\", {reinterpret_cast<const char*>(kFile${index}), sizeof kFile${index}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new
"// Generated at build time from tools/kvprtd/web/; do not edit.
#include \"web.h\"

namespace kvprtd {
namespace {
${arrays}
const WebAsset kAssets[] = {
${entries}};
}  // namespace

std::span<const WebAsset> webAssets() { return kAssets; }

}  // namespace kvprtd
")
file(RENAME ${OUTPUT}.new ${OUTPUT})
