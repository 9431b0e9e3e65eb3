#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
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

// Plain item decoding is checked end to end by the simulator round trip.
TEST(FontDescription, SeparatorsAreConsumedAndNumbersReadLikeAtol) {
    Parsed p = parse("name: Courier; position:   3; pitch: 12.5;");
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.buffer.substr(0, 15), std::string("name\0 Courier\0 ", 15));   // consumed separators become 0
    p = parse("position: 65537; style: 99999999999; weight: -99999999999; typeface: x7;");
    EXPECT_EQ(std::tuple(p.font.usPosition, p.font.lStyle, p.font.lWeight, p.font.lTypeface),
              std::tuple(1, INT32_MAX, INT32_MIN, 0));
}

TEST(FontDescription, ValuesOfTheEnumeratedKeys) {
    struct Case {
        std::string item;
        unsigned technology, spacing, flags;
    } cases[] = {
        {"technology: bitmap;", 1, 9, 0},      {"technology: Intellifont;", 2, 9, 0x01},
        {"technology: TrueType;", 3, 9, 0x01}, {"technology: truetype;", 0, 9, 0},
        {"technology: bitmap ;", 0, 9, 0},     {"spacing: 0;", 0, 0, 0},
        {"spacing: 2;", 0, 9, 0},              {"spacing: 1x;", 0, 9, 0},
        {"Name: X; TECHNOLOGY: bitmap;", 0, 9, 0},
    };
    for (const Case& c : cases) {
        F start;
        start.bySpacing = 9;
        Parsed p = parse(c.item, -1, start);
        EXPECT_EQ(p.rc, 0) << c.item;
        EXPECT_EQ(p.font.byTechnology, c.technology) << c.item;
        EXPECT_EQ(p.font.bySpacing, c.spacing) << c.item;
        EXPECT_EQ(p.font.usValidFlags, c.flags) << c.item;
        EXPECT_EQ(p.font.strName, "") << c.item;
    }
}

TEST(FontDescription, PitchAndHeightRoundOnTwoDecimals) {
    struct Case {
        const char* value;
        uint32_t size;
    } cases[] = {
        {"12.5", 13}, {"12.25", 12}, {"12.499", 12}, {"0.5", 1}, {"-2.5", static_cast<uint32_t>(-2)},
        {"10", 10},   {"1e1", 10},   {"+7.5x", 8},   {"abc", 0}, {"99999999999", 21474836},
    };
    for (const Case& c : cases) {
        Parsed p = parse(std::string("pitch: ") + c.value + ";");
        EXPECT_EQ(p.font.ulSize, c.size) << c.value;
    }
    Parsed both = parse("pitch: 10; height: 12;");
    EXPECT_EQ(both.font.ulSize, 12u);
    EXPECT_EQ(both.font.usValidFlags, F::FONT_PITCH | F::FONT_HEIGHT);
}

TEST(FontDescription, SymbolSetIdsInDecimalOrAsNumberAndLetter) {
    struct Case {
        const char* value;
        unsigned id;
    } cases[] = {{"341", 341}, {"10U", 341}, {"10u", 341}, {"0N", 14}, {"19U", 629}, {"U", 0}, {"8 U", 8}};
    for (const Case& c : cases) {
        Parsed p = parse(std::string("ssid: ") + c.value + ";");
        EXPECT_EQ(p.font.usSymbolSet, c.id) << c.value;
        EXPECT_EQ(p.font.usValidFlags, F::FONT_SYMBOLSET) << c.value;
    }
}

TEST(FontDescription, CharacterComplementDigitPairs) {
    struct Case {
        const char* value;
        ByteVec bytes;
    } cases[] = {
        {"00000000000000FF", {0, 0, 0, 0, 0, 0, 0, 0xFF}},
        {"0123456789abcdef00", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
        {"FFFFF", {0xFF, 0xFF, 0x0F, 0, 0, 0, 0, 0}},
        {"G1-1", {0, 0xFF, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        F start;
        std::fill(std::begin(start.abCharComplement), std::end(start.abCharComplement), 0x77);
        Parsed p = parse(std::string("ccid: ") + c.value + ";", -1, start);
        EXPECT_EQ(ByteVec(p.font.abCharComplement, p.font.abCharComplement + 8), c.bytes) << c.value;
        EXPECT_EQ(p.font.usValidFlags, F::FONT_CHARCOMPLEMENT) << c.value;
    }
}

TEST(FontDescription, WhereTheTextEnds) {
    F start;
    start.usPosition = 42;
    start.strName = "kept";
    EXPECT_EQ(parse(std::string("\0position: 1;", 13), -1, start).font.usPosition, 42);
    Parsed empty = parse("position: 1;", 0, start);
    EXPECT_EQ(empty.rc, 0);
    EXPECT_EQ(empty.font.usPosition, 42);
    EXPECT_EQ(empty.font.strName, "kept");

    struct Case {
        std::string text;
        int length;
        long rc;
        unsigned position, style;
    } cases[] = {
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
        Parsed p = parse(c.text, c.length);
        EXPECT_EQ(p.rc, c.rc) << c.text;
        EXPECT_EQ(p.font.usPosition, c.position) << c.text;
        EXPECT_EQ(p.font.lStyle, static_cast<int32_t>(c.style)) << c.text;
    }
}
