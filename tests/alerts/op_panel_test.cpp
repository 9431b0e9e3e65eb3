#include <gtest/gtest.h>
#include <iconv.h>

#include <memory>

#include "scripted_printer.h"

using namespace kvtest;
using OPPANELDATA = KVPrtObj::OPPANELDATA;

namespace {

// The panel record an operation created; the host deletes it.
std::unique_ptr<OPPANELDATA> take(void* panel) { return std::unique_ptr<OPPANELDATA>(static_cast<OPPANELDATA*>(panel)); }

std::string text(const ByteVec& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The ISO 8859-1 character of a code page 850 character by the system's
// converter; 0x80 where ISO 8859-1 has none.
unsigned char iconvLatin1(unsigned char c) {
    iconv_t cd = iconv_open("ISO-8859-1", "IBM850");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no IBM850 converter");
    char in[1] = {static_cast<char>(c)}, out[4] = {};
    char* inp = in;
    char* outp = out;
    size_t inLeft = 1, outLeft = sizeof out;
    size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    return rc == static_cast<size_t>(-1) || outLeft != sizeof out - 1 ? 0x80 : static_cast<unsigned char>(out[0]);
}

}  // namespace

TEST(PanelLock, ReadsTheLockVariable) {
    PrinterRig rig;
    rig.printer.answer(0x4E, reply(hex("05 00 4D 02")));
    rig.printer.answer(0x4E, reply(hex("05 00 4D 00")));
    rig.printer.answer(0x4E, reply(hex("05 00 4D")));   // no value byte
    rig.printer.answer(0x4E, fail(-3));
    int locked = -1;
    EXPECT_EQ(rig.obj.bidiROPQueryLock(&locked), 0);
    EXPECT_EQ(locked, 1);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("00 4D"));
    EXPECT_EQ(rig.obj.bidiROPQueryLock(&locked), 0);
    EXPECT_EQ(locked, 0);
    locked = -1;
    EXPECT_EQ(rig.obj.bidiROPQueryLock(&locked), -2);
    EXPECT_EQ(rig.obj.bidiROPQueryLock(&locked), -3);
    EXPECT_EQ(locked, -1);
}

TEST(PanelLock, SettingWritesOneByteThenPressesTheLockButton) {
    PrinterRig rig;
    rig.printer.answer(0x4F, reply(hex("05 00 4D")));
    EXPECT_EQ(rig.obj.bidiROPSetLock(5), 0);
    EXPECT_EQ(rig.obj.bidiROPSetLock(0), 0);
    auto sent = rig.printer.requests();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].data, hex("00 4D 01"));
    EXPECT_EQ(sent[1].code, 0x40);
    EXPECT_EQ(sent[1].data, hex("00 00 40"));
    EXPECT_EQ(sent[2].data, hex("00 4D 00"));
    EXPECT_EQ(sent[3].code, 0x40);

    PrinterRig wrongEcho;
    wrongEcho.printer.answer(0x4F, reply(hex("05 00 4E")));
    EXPECT_EQ(wrongEcho.obj.bidiROPSetLock(1), -2);
    EXPECT_EQ(wrongEcho.printer.requestCount(), 1u);   // no button pressed
}

TEST(PanelButtons, SendTheLowByteWithoutTakingAReply) {
    PrinterRig rig;
    rig.printer.answer(0x40, fail(-17));
    EXPECT_EQ(rig.obj.bidiROPPushButton(0x1234), -17);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("00 00 34"));
    EXPECT_EQ(rig.printer.lastRequest().capacity, 0u);
}

TEST(PanelText, TranslatedDisplayOfWidthTimesHeight) {
    PrinterRig rig;   // 20 x 4
    ByteVec display = Bytes().raw(hex("8E 94 81 B3 C4")).text("Ready 12").fill(67, 'x');   // 80 + 0 more
    rig.printer.answer(0x43, reply(display));
    void* panel = nullptr;
    EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), 0);
    auto p = take(panel);
    EXPECT_EQ(p->nPanelWidth, 20);
    EXPECT_EQ(p->nPanelHeight, 4);
    EXPECT_EQ(p->strPanelText, text(Bytes().raw(hex("C4 F6 FC 80 80")).text("Ready 12").fill(67, 'x')));
    EXPECT_EQ(rig.printer.lastRequest().code, 0x43);
}

TEST(PanelText, ZeroBytesShortAndLongTexts) {
    struct Case {
        const char* name;
        ByteVec reply;
        std::string expected;
    };
    const Case cases[] = {
        {"zero byte at 10", Bytes().fill(10, 'a').u8(0).fill(69, 'b'), std::string(10, 'a')},
        {"shorter than the display", Bytes().fill(30, 'c'), std::string(30, 'c')},
        {"longer than the display", Bytes().fill(80, 'd').fill(20, 'e'), std::string(80, 'd')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrinterRig rig;
        rig.printer.answer(0x43, reply(c.reply));
        void* panel = nullptr;
        EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), 0);
        EXPECT_EQ(take(panel)->strPanelText, c.expected);
    }
}

TEST(PanelText, ObjectWithoutPanelDimensionsAndFailures) {
    PrinterRig rig;
    rig.obj.m_nPanelWidth = 0;   // as a default-constructed object has it
    rig.obj.m_nPanelHeight = 0;
    rig.printer.answer(0x43, reply(Bytes().text("Ready")));
    rig.printer.answer(0x43, fail(-10));
    void* panel = nullptr;
    EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), 0);
    auto p = take(panel);
    EXPECT_EQ(p->nPanelWidth, 0);
    EXPECT_EQ(p->strPanelText, "");

    rig.obj.m_nPanelWidth = 20;
    rig.obj.m_nPanelHeight = 4;
    EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), -10);
    p = take(panel);
    ASSERT_NE(p, nullptr);   // the record belongs to the host whatever happened
    EXPECT_EQ(p->nPanelWidth, 0);
    EXPECT_EQ(p->strPanelText, "");
}

TEST(PanelAlert, TextAfterTheAlertMark) {
    PrinterRig rig;
    rig.printer.setAlert(1, Bytes().u8(0xE1).text("Paper out").u8(0x9C));   // short text
    rig.printer.setAlert(2, Bytes().u8(0xE0).text("Paper out"));
    rig.printer.setAlert(3, {});
    void* panel = nullptr;
    EXPECT_EQ(rig.obj.bidiROPQueryAlert(1, &panel), 0);
    auto p = take(panel);
    EXPECT_EQ(p->strPanelText, "Paper out\xA3");
    EXPECT_EQ(p->nPanelHeight, 4);
    EXPECT_EQ(rig.printer.alertFlags(), std::vector<int>{2});

    for (unsigned short id : {2, 3}) {
        EXPECT_EQ(rig.obj.bidiROPQueryAlert(id, &panel), -2) << id;
        EXPECT_EQ(take(panel)->strPanelText, "");
    }
    EXPECT_EQ(rig.obj.bidiROPQueryAlert(9, &panel), -3);   // no such alert
    take(panel);
}

TEST(PanelReset, ResetAndContinueCheckTheirEcho) {
    PrinterRig rig;
    rig.printer.answer(0x57, reply(hex("05 00 B1")));
    rig.printer.answer(0x57, reply(hex("05 00 B0")));
    rig.printer.answer(0x57, reply(hex("05 00 B0")));
    rig.printer.answer(0x57, reply(hex("05 00")));
    rig.printer.answer(0x57, fail(-16));
    EXPECT_EQ(rig.obj.bidiROPReset(), 0);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("00 B1"));
    EXPECT_EQ(rig.obj.bidiROPContinue(), 0);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("00 B0"));
    EXPECT_EQ(rig.obj.bidiROPReset(), -2);   // the continue echo
    EXPECT_EQ(rig.obj.bidiROPContinue(), -2);   // too short for the echo
    EXPECT_EQ(rig.obj.bidiROPContinue(), -16);
}

TEST(PanelCharacters, TheWholeTableAgreesWithTheSystemConverter) {
    for (unsigned c = 0; c < 256; ++c) {
        CString s(1, static_cast<char>(c));
        if (c == 0) continue;
        TranslateOpPanelData(&s, 1);
        ASSERT_EQ(s.size(), 1u);
        unsigned char expected = c < 0x80 ? static_cast<unsigned char>(c) : iconvLatin1(static_cast<unsigned char>(c));
        EXPECT_EQ(static_cast<unsigned char>(s[0]), expected) << std::hex << c;
    }
}

TEST(PanelCharacters, CountAndZeroBytes) {
    CString s = text(hex("8E 94 81"));
    TranslateOpPanelData(&s, 2);
    EXPECT_EQ(s, text(hex("C4 F6 81")));
    s = text(hex("8E 00 94"));
    TranslateOpPanelData(&s, 99);
    EXPECT_EQ(s, text(hex("C4")));
    s = "abc";
    TranslateOpPanelData(&s, -1);
    EXPECT_EQ(s, "abc");
}
