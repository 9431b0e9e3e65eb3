#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;

namespace {

// An interpreter entry: logical unit, bytes 7-8 the mark, byte 15 the name length.
Bytes interpreter(unsigned lu, unsigned mark, std::string_view name) {
    return Bytes().u8(lu).zeros(6).be16(mark).zeros(6).counted(name);
}
const std::string kPcl("PCL 5 Emulation\0", 16);
const std::string kGl("GL 1 Emulation\0\0\0", 17);

Bytes font(unsigned tag, std::string_view description) {
    return Bytes().u8(tag).u8(0).be16(static_cast<unsigned>(description.size())).text(description);
}
const Bytes kEndMarker{0xFE, 0xFF, 0x00, 0x00};

Bytes cutLast(const Bytes& b) { return Bytes(ByteVec(b.vec().begin(), b.vec().end() - 1)); }

void answerAll(ScriptedPrinter& printer, const ByteVec& bytes) {
    printer.setHandler([bytes](const SentRequest&) { return reply(bytes); });
}

}  // namespace

TEST(InterpreterLU, FindsTheEntryByNameOnly) {
    PrinterRig rig;
    const Bytes glThenPcl = Bytes().u8(2).raw(interpreter(2, 0, kGl)).raw(interpreter(1, 0, kPcl));
    const std::tuple<const char*, Bytes, unsigned, long, unsigned> cases[] = {   // what, reply, interpreter, rc, LU
        {"PCL", glThenPcl, 1, 0, 1},
        {"GL", glThenPcl, 2, 0, 2},
        {"not listed", glThenPcl, 5, -2, 99},
        {"no such interpreter", glThenPcl, 6, -2, 99},
        {"marked only", Bytes().u8(1).raw(interpreter(1, 0xFFFF, kPcl)), 1, 1, 99},
        {"marked, then unmarked", Bytes().u8(2).raw(interpreter(1, 0xFFFF, kPcl)).raw(interpreter(4, 0, kPcl)), 1, 0,
         4},
        {"mark counts for 1 only", Bytes().u8(1).raw(interpreter(3, 0xFFFF, kGl)), 2, 0, 3},
        {"no 0 byte in the name",
         Bytes().u8(2).raw(interpreter(3, 0, "PCL 5 Emulation")).raw(interpreter(0, 0, "x")), 1, -2, 99},
        {"no entries", Bytes().u8(0), 1, -2, 99},
        {"marked, then a cut entry", Bytes().u8(2).raw(interpreter(1, 0xFFFF, kPcl)).zeros(15), 1, -2, 99},
        {"found before a cut entry", Bytes().u8(2).raw(interpreter(5, 0, kPcl)).zeros(3), 1, 0, 5},
        {"name runs past the end", cutLast(Bytes().u8(1).raw(interpreter(5, 0, kPcl))), 1, -2, 99},
        {"empty reply", Bytes(), 1, -2, 99},
    };
    for (const auto& [what, answer, interpreter, expectedRc, expectedLu] : cases) {
        answerAll(rig.printer, answer);
        unsigned char lu = 99;
        long rc = rig.obj.bidiGetInterpreterLU(static_cast<unsigned char>(interpreter), &lu);
        EXPECT_EQ(std::tuple(rc, unsigned(lu)), std::tuple(expectedRc, expectedLu)) << what;
    }
}

namespace {

struct FontList : ::testing::Test {
    PrinterRig rig;
    unsigned short count = 99;
    _FONTDETAILS* fonts = nullptr;
    ~FontList() override { delete[] fonts; }

    long query(const ByteVec& bytes) {
        delete[] fonts;
        fonts = nullptr;
        answerAll(rig.printer, bytes);
        return rig.obj.bidiGetFontDetails(0x12, 0x34, &count, &fonts);
    }
};

Bytes fontList(unsigned n, std::initializer_list<Bytes> records) {
    Bytes b = Bytes().u8(0xAA).be16(n).counted("hdr");
    for (const Bytes& r : records) b.raw(r);
    return b;
}

}  // namespace

TEST_F(FontList, DecodesFontsUpToTheEndMarker) {
    ASSERT_EQ(query(fontList(4, {font(0x10, "name: Courier; pitch: 10;"), font(0x11, "position: 7;"), kEndMarker,
                                 font(0x12, "position: 2;")})),
              0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("12 34 00"));
    // Descriptions parsed (see the round trip), the marker's slot, then an untouched one.
    EXPECT_EQ(std::tuple(fonts[0].byFontTag, fonts[1].usPosition, fonts[2].byFontTag, fonts[3].usPosition),
              std::tuple(0x10, 7, 0xFE, 0));
    ASSERT_EQ(query(fontList(0, {font(0x10, "position: 1;")})), 0);
    EXPECT_EQ(std::tuple(count, fonts), std::tuple(0, nullptr));

    // A failing description ends the list and keeps the array.
    EXPECT_EQ(query(fontList(3, {font(0x10, "position: 1;"), font(0x11, "position: 2; name: X"),
                                 font(0x12, "position: 3;")})),
              -3);
    ASSERT_EQ(std::tuple(count, fonts != nullptr), std::tuple(2, true));
    EXPECT_EQ(std::tuple(fonts[1].usPosition, fonts[2].usPosition), std::tuple(2, 0));   // set before the faulty item
}

TEST_F(FontList, TheParserIsCalledThroughTheVirtualTable) {
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
    answerAll(rig.printer, fontList(2, {font(1, "anything"), font(2, "")}));
    ASSERT_EQ(obj.bidiGetFontDetails(0, 0, &count, &fonts), 0);
    EXPECT_EQ(obj.seen, (std::vector<std::string>{"anything", ""}));
    EXPECT_EQ(fonts[1].lStyle, 5);
}

TEST_F(FontList, ShortReplies) {
    EXPECT_EQ(query(ByteVec{0xAA, 0x00}), -2);   // no count
    EXPECT_EQ(query(Bytes().u8(0).be16(1).u8(4).text("hd")), -2);   // header cut
    EXPECT_EQ(std::tuple(count, fonts), std::tuple(0, nullptr));
    EXPECT_EQ(query(fontList(3, {font(0x10, "position: 1;"), cutLast(font(0x12, "position: 3;"))})), -2);
    ASSERT_EQ(std::tuple(count, fonts != nullptr), std::tuple(1, true));
    EXPECT_EQ(fonts[1].byFontTag, 0);
}

// The round trip decodes whole lists; here the empty list and cut-short replies.
TEST(SymbolSets, EmptyListAndShortReplies) {
    PrinterRig rig;
    answerAll(rig.printer, Bytes().u8(0).be16(0));
    unsigned short count = 0;
    _SYMBOLSET* sets = nullptr;
    ASSERT_EQ(rig.obj.bidiGetSymbolSetList(&count, &sets), 0);
    EXPECT_EQ(std::tuple(count, sets != nullptr), std::tuple(0, true));
    delete[] sets;

    for (const ByteVec& r : {ByteVec{0, 0}, ByteVec(Bytes().u8(0).be16(1).be16(5).zeros(8).u8(3).text("ab"))}) {
        answerAll(rig.printer, r);
        count = 99;
        sets = nullptr;
        long rc = rig.obj.bidiGetSymbolSetList(&count, &sets);
        EXPECT_EQ(std::tuple(rc, count, sets), std::tuple(-2l, 99, nullptr)) << toHex(r);
    }
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
