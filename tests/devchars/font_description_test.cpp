#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "golden.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

// A description with "\0" for a zero byte, after an optional "[length] "
// (the whole text by default), parsed into a font with spacing 9, complement
// 77s and name "kept"; the result and the font on one line.
std::string parsed(const std::string& input) {
    const bool sized = input.starts_with("[");
    std::string text = withZeros(sized ? input.substr(input.find("] ") + 2) : input);
    _FONTDETAILS f;
    f.bySpacing = 9;
    f.strName = "kept";
    std::fill(std::begin(f.abCharComplement), std::end(f.abCharComplement), 0x77);
    auto length = static_cast<unsigned short>(sized ? std::stoul(input.substr(1)) : text.size());
    const long rc = OpenPrtObj().parseFontDescription(text.data(), length, &f);
    const ByteVec cc(f.abCharComplement, f.abCharComplement + 8);
    std::ostringstream out;
    out << rc << " | " << +f.byTechnology << " " << +f.bySpacing << " " << f.ulSize << " " << f.usSymbolSet << " "
        << (cc == ByteVec(8, 0x77) ? "77" : toHex(cc)) << " " << f.usValidFlags << " | " << f.usPosition << " "
        << f.lStyle << " " << f.lWeight << " " << f.lTypeface << " " << f.lResolution << " | '" << f.strName << "'";
    return out.str();
}

}  // namespace

TEST(FontDescription, EachKeyAndWhereTheTextEnds) {
    expectGolden(KVPO_DEVCHARS_DIR "/font_description.golden", parsed);
}

TEST(FontDescription, ConsumedSeparatorsBecomeZero) {
    std::string text = "name: Courier; position:   3;";
    _FONTDETAILS f;
    ASSERT_EQ(OpenPrtObj().parseFontDescription(text.data(), static_cast<unsigned short>(text.size()), &f), 0);
    EXPECT_EQ(text.substr(0, 15), std::string("name\0 Courier\0 ", 15));
}
