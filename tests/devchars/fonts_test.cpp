#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "golden.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

void answerAll(ScriptedPrinter& printer, const ByteVec& bytes) {
    printer.setHandler([bytes](const SentRequest&) { return reply(bytes); });
}

// Hex bytes with 'quoted' text among them ("\0" a zero byte): "AA 0002 03 'hdr'".
ByteVec bytesOf(const std::string& input) {
    std::istringstream parts(withZeros(input));
    Bytes out;
    bool quoted = false;
    for (std::string part; std::getline(parts, part, '\''); quoted = !quoted)
        quoted ? out.text(part) : out.raw(hex(part));
    return out;
}

// "interpreter N: reply": the result and the logical unit (99 untouched).
std::string logicalUnit(const std::string& input) {
    PrinterRig rig;
    answerAll(rig.printer, bytesOf(input.substr(input.find(": ") + 2)));
    unsigned char lu = 99;
    const long rc = rig.obj.bidiGetInterpreterLU(static_cast<unsigned char>(std::stoul(input.substr(12))), &lu);
    return std::to_string(rc) + " " + std::to_string(lu);
}

// "fonts: reply" or "symbol sets: reply": the result, the count (99 before) and
// each set, or for the counted fonts and the two slots after them, tag and
// position ("none": no array).
std::string listed(const std::string& input) {
    PrinterRig rig;
    const ByteVec bytes = bytesOf(input.substr(input.find(": ") + 2));
    answerAll(rig.printer, bytes);
    unsigned short count = 99;
    std::ostringstream out;
    if (input.starts_with("symbol sets")) {
        _SYMBOLSET* sets = nullptr;
        out << rig.obj.bidiGetSymbolSetList(&count, &sets) << " | " << count << (sets ? "" : " | none");
        std::unique_ptr<_SYMBOLSET[]> owned(sets);
        for (unsigned i = 0; sets && i < count; ++i)
            out << " | " << sets[i].usSymbolSet << " " << toHex(sets[i].abCharComplement, 8) << " '" << sets[i].strName
                << "'";
        return out.str();
    }
    _FONTDETAILS* fonts = nullptr;
    out << rig.obj.bidiGetFontDetails(0x12, 0x34, &count, &fonts) << " | " << count << (fonts ? "" : " | none");
    std::unique_ptr<_FONTDETAILS[]> owned(fonts);
    const unsigned announced = bytes.size() >= 3 ? bytes[1] * 256u + bytes[2] : 0;
    for (unsigned i = 0; fonts && i < std::min(announced, count + 2u); ++i)
        out << " | " << toHex(&fonts[i].byFontTag, 1) << " " << fonts[i].usPosition;
    return out.str();
}

}  // namespace

// Entries found by name only, the FF FF mark, cut entries and replies.
TEST(InterpreterLU, FindsTheEntryByNameOnly) {
    expectGolden(KVPO_DEVCHARS_DIR "/interpreters.golden", logicalUnit);
}

// Font descriptions parsed up to the end marker or a failing one; symbol sets; short replies.
TEST(FontsAndSymbolSets, Replies) { expectGolden(KVPO_DEVCHARS_DIR "/font_lists.golden", listed); }

TEST(FontList, AskedWithTheSelectorsAndParsedThroughTheVirtualTable) {
    PrinterRig rig;
    struct Custom : OpenPrtObj {
        using OpenPrtObj::OpenPrtObj;
        std::vector<std::string> seen;
        long parseFontDescription(void* text, unsigned short length, _FONTDETAILS* f) override {
            seen.emplace_back(static_cast<char*>(text), length);
            f->lStyle = 5;
            return 0;
        }
    } obj(rig.attached.handle, 0);
    obj.setBidi(1);
    answerAll(rig.printer, bytesOf("AA 0002 03 'hdr' 01 00 0008 'anything' 02 00 0000"));
    unsigned short count = 0;
    _FONTDETAILS* fonts = nullptr;
    ASSERT_EQ(obj.bidiGetFontDetails(0x12, 0x34, &count, &fonts), 0);
    std::unique_ptr<_FONTDETAILS[]> owned(fonts);
    EXPECT_EQ(std::tuple(obj.seen, fonts[1].lStyle, rig.printer.lastRequest().data),
              std::tuple(std::vector<std::string>{"anything", ""}, 5, hex("12 34 00")));
}

// Field decoding and the set request are checked end to end by the simulator round trip.
TEST(CurrentFont, ShortRepliesLeaveTheArguments) {
    PrinterRig rig;
    _FONTDETAILS f;
    f.byFontTag = 7;
    answerAll(rig.printer, hex("AA 09 01 02 01 55 00 00 00"));
    EXPECT_EQ(rig.obj.bidiGetCurrentFontInformation(&f), -2);
    EXPECT_EQ(f.byFontTag, 7);
    unsigned char status = 0x5A;
    answerAll(rig.printer, hex("AA"));
    EXPECT_EQ(rig.obj.bidiSetCurrentFontInformation(&f, &status), -2);
    EXPECT_EQ(status, 0x5A);
}
