#include <gtest/gtest.h>
#include <iconv.h>

#include <memory>
#include <sstream>

#include "golden.h"
#include "scripted_printer.h"

using namespace kvtest;
using OPPANELDATA = KVPrtObj::OPPANELDATA;

namespace {

std::string text(const ByteVec& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The panel record an operation created; the host deletes it.
std::unique_ptr<OPPANELDATA> take(void* panel) {
    return std::unique_ptr<OPPANELDATA>(static_cast<OPPANELDATA*>(panel));
}

// "KIND: bytes" on a panel of 8 x 2 answered with the bytes: "text" and "alert" (alert 1) give the result,
// the record's size and text (other than printable ASCII as \xNN); "lock" the result and the state read
// (-1: none); "set lock", "reset" and "continue" the result. Then the code and data of each request, the alert flags.
std::string decoded(const std::string& input) {
    PrinterRig rig;
    std::tie(rig.obj.m_nPanelWidth, rig.obj.m_nPanelHeight) = std::pair(8, 2);
    const ByteVec bytes = hex(input.substr(input.find(':') + 1));
    rig.printer.setDefault(reply(bytes));
    rig.printer.setAlert(1, bytes);
    std::ostringstream out;
    void* panel = nullptr;
    int locked = -1;
    if (input.starts_with("text")) out << rig.obj.bidiROPQueryData(&panel);
    if (input.starts_with("alert")) out << rig.obj.bidiROPQueryAlert(1, &panel);
    if (input.starts_with("lock")) out << rig.obj.bidiROPQueryLock(&locked) << " " << locked;
    if (input.starts_with("set lock")) out << rig.obj.bidiROPSetLock(5);
    if (input.starts_with("reset")) out << rig.obj.bidiROPReset();
    if (input.starts_with("continue")) out << rig.obj.bidiROPContinue();
    if (auto p = take(panel)) {
        out << " " << p->nPanelWidth << "x" << p->nPanelHeight << " '";
        for (unsigned char c : p->strPanelText) out << (c >= 0x20 && c < 0x7F ? std::string(1, c) : "\\x" + toHex({c}));
        out << "'";
    }
    for (const auto& r : rig.printer.requests()) out << " | " << toHex(Bytes().u8(r.code).raw(r.data).vec());
    for (int flag : rig.printer.alertFlags()) out << " flag " << flag;
    return out.str();
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

// Panel texts and alerts, lock states, reset and continue echoes.
TEST(Panel, RepliesAndAlerts) { expectGolden(KVPO_ALERTS_DIR "/op_panel.golden", decoded); }

TEST(PanelButtons, APressSendsTheLowByteAndTakesNoReply) {
    PrinterRig button;
    button.printer.answer(0x40, fail(-17));
    EXPECT_EQ(button.obj.bidiROPPushButton(0x1234), -17);
    EXPECT_EQ(std::tuple(button.printer.lastRequest().data, button.printer.lastRequest().capacity),
              std::tuple(hex("00 00 34"), 0ul));
}

TEST(PanelText, ANewObjectReadsADisplayOfTwentyByFour) {
    PrinterRig rig;
    rig.printer.answer(0x43, reply(Bytes().fill(100, 'x')));
    void* panel = nullptr;
    ASSERT_EQ(rig.obj.bidiROPQueryData(&panel), 0);
    auto p = take(panel);
    EXPECT_EQ(std::tuple(p->nPanelWidth, p->nPanelHeight, p->strPanelText), std::tuple(20, 4, std::string(80, 'x')));
}

TEST(PanelText, AnEmptyDisplayNoSuchAlertAndFailures) {
    PrinterRig rig;
    rig.obj.m_nPanelWidth = rig.obj.m_nPanelHeight = 0;   // as a default-constructed object has them
    rig.printer.answer(0x43, reply(Bytes().text("Ready")));
    rig.printer.answer(0x43, fail(-10));
    void* panel = nullptr;
    EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), 0);
    EXPECT_EQ(take(panel)->strPanelText, "");
    EXPECT_EQ(rig.obj.bidiROPQueryAlert(9, &panel), -3);
    take(panel);
    rig.obj.m_nPanelWidth = 20;
    EXPECT_EQ(rig.obj.bidiROPQueryData(&panel), -10);
    auto p = take(panel);   // the record belongs to the host whatever happened
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->nPanelWidth, 0);
    PrinterRig failing;
    failing.printer.answer(0x57, fail(-16));
    EXPECT_EQ(failing.obj.bidiROPContinue(), -16);
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
