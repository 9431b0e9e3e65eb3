#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;
using F = _FONTDETAILS;

namespace {

struct Parsed {
    long rc;
    F font;
    std::string buffer;   // the description after parsing
};

// Parses `text`; `length` defaults to the whole text.
Parsed parse(std::string text, int length = -1, F font = F{}) {
    OpenPrtObj obj;
    auto n = static_cast<unsigned short>(length < 0 ? text.size() : static_cast<size_t>(length));
    long rc = obj.parseFontDescription(text.data(), n, &font);
    return {rc, font, text};
}

}  // namespace

TEST(FontDescription, SeparatorsAreConsumedAndNumbersReadLikeAtol) {
    Parsed p = parse("name: Courier; position:   3; pitch: 12.5;");
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.buffer.substr(0, 15), std::string("name\0 Courier\0 ", 15));   // consumed separators become 0
    p = parse("position: 65537; style: 99999999999; weight: -99999999999; typeface: x7;");
    EXPECT_EQ(std::tuple(p.font.usPosition, p.font.lStyle, p.font.lWeight, p.font.lTypeface),
              std::tuple(1, INT32_MAX, INT32_MIN, 0));
}

// One item each: technology, spacing, size, symbol set, character complement
// and the valid-field flags, from a font with spacing 9 and complement 77s.
TEST(FontDescription, ValuesOfEachKey) {
    const std::pair<std::string, const char*> cases[] = {
        {"technology: bitmap;", "1 9 0 0 77 0"},   {"technology: Intellifont;", "2 9 0 0 77 1"},
        {"technology: TrueType;", "3 9 0 0 77 1"}, {"technology: truetype;", "0 9 0 0 77 0"},
        {"technology: bitmap ;", "0 9 0 0 77 0"},  {"spacing: 0;", "0 0 0 0 77 0"},
        {"spacing: 2;", "0 9 0 0 77 0"},           {"spacing: 1x;", "0 9 0 0 77 0"},
        {"Name: X; TECHNOLOGY: bitmap;", "0 9 0 0 77 0"},
        // pitch and height round on two decimals
        {"pitch: 12.5;", "0 9 13 0 77 2"},         {"pitch: 12.25;", "0 9 12 0 77 2"},
        {"pitch: 12.499;", "0 9 12 0 77 2"},       {"pitch: 0.5;", "0 9 1 0 77 2"},
        {"pitch: -2.5;", "0 9 4294967294 0 77 2"}, {"pitch: 10;", "0 9 10 0 77 2"},
        {"pitch: 1e1;", "0 9 10 0 77 2"},          {"pitch: +7.5x;", "0 9 8 0 77 2"},
        {"pitch: abc;", "0 9 0 0 77 2"},           {"pitch: 99999999999;", "0 9 21474836 0 77 2"},
        {"pitch: 10; height: 12;", "0 9 12 0 77 6"},
        // symbol sets in decimal or as number and letter
        {"ssid: 341;", "0 9 0 341 77 8"},         {"ssid: 10U;", "0 9 0 341 77 8"},
        {"ssid: 10u;", "0 9 0 341 77 8"},         {"ssid: 0N;", "0 9 0 14 77 8"},
        {"ssid: 19U;", "0 9 0 629 77 8"},         {"ssid: U;", "0 9 0 0 77 8"},
        {"ssid: 8 U;", "0 9 0 8 77 8"},
        // character complements: digit pairs
        {"ccid: 00000000000000FF;", "0 9 0 0 00 00 00 00 00 00 00 FF 16"},
        {"ccid: 0123456789abcdef00;", "0 9 0 0 01 23 45 67 89 AB CD EF 16"},
        {"ccid: FFFFF;", "0 9 0 0 FF FF 0F 00 00 00 00 00 16"},
        {"ccid: G1-1;", "0 9 0 0 00 FF 00 00 00 00 00 00 16"},
    };
    for (const auto& [item, expected] : cases) {
        F start;
        start.bySpacing = 9;
        std::fill(std::begin(start.abCharComplement), std::end(start.abCharComplement), 0x77);
        Parsed p = parse(item, -1, start);
        const F& f = p.font;
        const ByteVec cc(f.abCharComplement, f.abCharComplement + 8);
        std::ostringstream got;
        got << +f.byTechnology << " " << +f.bySpacing << " " << f.ulSize << " " << f.usSymbolSet << " "
            << (cc == ByteVec(8, 0x77) ? "77" : toHex(cc)) << " " << f.usValidFlags;
        EXPECT_EQ(std::tuple(p.rc, got.str(), f.strName), std::tuple(0, std::string(expected), CString())) << item;
    }
}

TEST(FontDescription, WhereTheTextEnds) {
    F start;
    start.strName = "kept";
    struct Case {
        std::string text;
        int length;
        long rc;
        unsigned position, style;
    } cases[] = {
        {std::string("\0position: 1;", 13), -1, 0, 0, 0}, {"position: 1;", 0, 0, 0, 0},
        {"position: 1;Xstyle: 2;", -1, 0, 1, 2},                       // one character after ";" skipped
        {"position: 1;style: 2;", -1, 0, 1, 0},                         // ... so "tyle" is the key
        {"position: 1;    style: 2;", -1, 0, 1, 2},
        {"position: 1; s", -1, 0, 1, 0},                                // within one byte of the end
        {std::string("position: 1; \0style: 2;", 23), -1, 0, 1, 0},      // a 0 byte ends the text
        {"position: 1; style: 2;", 21, -3, 1, 0},                       // ";" past the length
        {"position: 1; style", -1, -3, 1, 0},                           // no ":"
        {"position: 1; style: 2", -1, -3, 1, 0},                        // no ";"
        {"position:1; style: 2;", -1, -3, 0, 0},                        // no space after ":"
        {"position: 1; style:", -1, -3, 1, 0},
        {"colour: red; style: 2;", -1, 0, 0, 2},                        // unknown keys are skipped
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.text, c.length, start);
        EXPECT_EQ(std::tuple(p.rc, p.font.usPosition, p.font.lStyle, p.font.strName),
                  std::tuple(c.rc, c.position, static_cast<int32_t>(c.style), CString("kept"))) << c.text;
    }
}
