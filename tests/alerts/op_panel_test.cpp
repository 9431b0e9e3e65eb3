#include <gtest/gtest.h>
#include <iconv.h>

#include <memory>

#include "scripted_printer.h"

using namespace kvtest;
using OPPANELDATA = KVPrtObj::OPPANELDATA;

namespace {

std::string text(const ByteVec& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The panel record an operation created; the host deletes it.
std::unique_ptr<OPPANELDATA> take(void* panel) {
    return std::unique_ptr<OPPANELDATA>(static_cast<OPPANELDATA*>(panel));
}

// The panel text of bidiROPQueryData for a reply (as the operation sees it).
std::string panelText(const ByteVec& afterStrip) {
    PrinterRig rig;   // 20 x 4
    rig.printer.answer(0x43, reply(afterStrip));
    void* panel = nullptr;
    EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), 0);
    auto p = take(panel);
    EXPECT_EQ(p->nPanelWidth * 10 + p->nPanelHeight, 204);
    return p->strPanelText;
}

// The system converter's ISO 8859-1 character for a code page 850 one; 0x80 where it has none.
unsigned char iconvLatin1(unsigned char c) {
    iconv_t cd = iconv_open("ISO-8859-1", "IBM850");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no IBM850 converter");
    char in[1] = {static_cast<char>(c)}, out[4] = {};
    char *inp = in, *outp = out;
    size_t inLeft = 1, outLeft = sizeof out;
    bool converted = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 3;
    iconv_close(cd);
    return converted ? static_cast<unsigned char>(out[0]) : 0x80;
}

}  // namespace

TEST(PanelLock, ReadAndSet) {
    const std::tuple<Answer, long, int> reads[] = {{reply(hex("05 00 4D 02")), 0, 1},
                                                   {reply(hex("05 00 4D")), -2, -1},   // no value byte
                                                   {fail(-3), -3, -1}};
    for (const auto& [answer, rc, locked] : reads) {
        PrinterRig rig;
        rig.printer.answer(0x4E, answer);
        int value = -1;
        EXPECT_EQ(rig.obj.bidiROPQueryLock(&value), rc);
        EXPECT_EQ(value, locked);
        EXPECT_EQ(rig.printer.lastRequest().data, hex("00 4D"));
    }
    PrinterRig set;   // a set that reads back runs in the round trip: any nonzero value locks
    set.printer.answer(0x4F, reply(hex("05 00 4D")));
    EXPECT_EQ(set.obj.bidiROPSetLock(5), 0);
    auto sent = set.printer.requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::make_tuple(sent[0].data, sent[1].code, sent[1].data),
              std::make_tuple(hex("00 4D 01"), 0x40, hex("00 00 40")));

    PrinterRig wrongEcho;
    wrongEcho.printer.answer(0x4F, reply(hex("05 00 4E")));
    EXPECT_EQ(wrongEcho.obj.bidiROPSetLock(1), -2);
    EXPECT_EQ(wrongEcho.printer.requestCount(), 1u);   // no button pressed

    PrinterRig button;   // a button press sends the low byte and takes no reply
    button.printer.answer(0x40, fail(-17));
    EXPECT_EQ(button.obj.bidiROPPushButton(0x1234), -17);
    EXPECT_EQ(std::tuple(button.printer.lastRequest().data, button.printer.lastRequest().capacity),
              std::tuple(hex("00 00 34"), 0ul));
}

TEST(PanelText, TranslatedDisplayOfWidthTimesHeightAndFailures) {
    EXPECT_EQ(panelText(Bytes().raw(hex("8E 94 81 B3 C4")).fill(75, 'x')),
              text(Bytes().raw(hex("C4 F6 FC 80 80")).fill(75, 'x')));
    EXPECT_EQ(panelText(Bytes().fill(10, 'a').u8(0).fill(69, 'b')), std::string(10, 'a'));
    EXPECT_EQ(panelText(Bytes().fill(30, 'c')), std::string(30, 'c'));   // shorter than the display
    EXPECT_EQ(panelText(Bytes().fill(80, 'd').fill(20, 'e')), std::string(80, 'd'));

    PrinterRig rig;
    rig.obj.m_nPanelWidth = rig.obj.m_nPanelHeight = 0;   // as a default-constructed object has them
    rig.printer.answer(0x43, reply(Bytes().text("Ready")));
    rig.printer.answer(0x43, fail(-10));
    void* panel = nullptr;
    EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), 0);
    EXPECT_EQ(take(panel)->strPanelText, "");
    rig.obj.m_nPanelWidth = 20;
    EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), -10);
    auto p = take(panel);   // the record belongs to the host whatever happened
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->nPanelWidth, 0);
}

TEST(PanelAlert, TextAfterTheAlertMarkAndResetEchoes) {
    PrinterRig rig;
    rig.printer.setAlert(1, Bytes().u8(0xE1).text("Paper out").u8(0x9C));
    rig.printer.setAlert(2, Bytes().u8(0xE0).text("Paper out"));
    rig.printer.setAlert(3, {});
    void* panel = nullptr;
    EXPECT_EQ(rig.obj.bidiROPQueryAlert(1, &panel), 0);
    EXPECT_EQ(take(panel)->strPanelText, "Paper out\xA3");
    EXPECT_EQ(rig.printer.alertFlags(), std::vector<int>{2});
    for (unsigned short id : {2, 3}) {
        EXPECT_EQ(rig.obj.bidiROPQueryAlert(id, &panel), -2) << id;
        EXPECT_EQ(take(panel)->strPanelText, "");
    }
    EXPECT_EQ(rig.obj.bidiROPQueryAlert(9, &panel), -3);   // no such alert
    take(panel);

    // Reset and continue check their echo.
    for (const char* r : {"05 00 B1", "05 00 B0", "05 00 B0", "05 00"}) rig.printer.answer(0x57, reply(hex(r)));
    rig.printer.answer(0x57, fail(-16));
    EXPECT_EQ(rig.obj.bidiROPReset(), 0);   // their effects: see the round trip
    EXPECT_EQ(rig.obj.bidiROPContinue(), 0);
    EXPECT_EQ(rig.obj.bidiROPReset(), -2);      // the continue echo
    EXPECT_EQ(rig.obj.bidiROPContinue(), -2);   // too short for the echo
    EXPECT_EQ(rig.obj.bidiROPContinue(), -16);
}

TEST(PanelCharacters, TheWholeTableAgreesWithTheSystemConverter) {
    for (unsigned c = 1; c < 256; ++c) {
        CString s(1, static_cast<char>(c));
        TranslateOpPanelData(&s, 1);
        ASSERT_EQ(s.size(), 1u);
        unsigned char expected = c < 0x80 ? static_cast<unsigned char>(c) : iconvLatin1(static_cast<unsigned char>(c));
        EXPECT_EQ(static_cast<unsigned char>(s[0]), expected) << std::hex << c;
    }
    CString s = text(hex("8E 94 81"));   // a count, and the end at a zero byte
    TranslateOpPanelData(&s, 2);
    EXPECT_EQ(s, text(hex("C4 F6 81")));
    s = text(hex("8E 00 94"));
    TranslateOpPanelData(&s, 99);
    EXPECT_EQ(s, text(hex("C4")));
}

