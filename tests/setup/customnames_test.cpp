#include <gtest/gtest.h>

#include <memory>

#include "scripted_printer.h"

using namespace kvtest;

namespace {

using Read = long (KVPrtObj::*)(_CUSTOMNAME**, unsigned short*);
using Write = long (KVPrtObj::*)(unsigned short, const CString&);

struct Operations {
    Read read;
    unsigned short readCode;
    Write write;
    unsigned short writeCode;
};
const Operations kOperations[] = {
    {&KVPrtObj::bidiGetFormNames, 0x8F, &KVPrtObj::bidiSetFormName, 0x91},
    {&KVPrtObj::bidiGetOutputBinNicknames, 0x8E, &KVPrtObj::bidiSetOutputBinNickname, 0x92},
};

auto* const kUntouched = reinterpret_cast<_CUSTOMNAME*>(0x1);

}  // namespace

TEST(CustomNames, ReadDecodesEntries) {
    for (const auto& op : kOperations) {
        PrinterRig rig;
        rig.printer.answer(op.readCode, Bytes().raw({0x00, 0x02}).u8(3).counted("Tray").u8(5).counted("X"));
        _CUSTOMNAME* names = nullptr;
        unsigned short count = 0;
        ASSERT_EQ((rig.obj.*op.read)(&names, &count), 0);
        std::unique_ptr<_CUSTOMNAME[]> owned(names);
        EXPECT_EQ(rig.printer.lastRequest().code, op.readCode);
        ASSERT_EQ(count, 2);
        EXPECT_EQ(names[0].usNumber, 3);
        EXPECT_EQ(names[0].strName, "Tray");
        EXPECT_EQ(names[1].usNumber, 5);
        EXPECT_EQ(names[1].strName, "");   // one character: no name
    }
}

TEST(CustomNames, ReadWithoutNamesGivesNoArray) {
    PrinterRig rig;
    rig.printer.answer(0x8F, Bytes{0x00, 0x00});
    _CUSTOMNAME* names = kUntouched;
    unsigned short count = 9;
    EXPECT_EQ(rig.obj.bidiGetFormNames(&names, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(names, kUntouched);
}

TEST(CustomNames, ShortReplyTouchesNothing) {
    const Bytes full = Bytes().raw({0x00, 0x02}).u8(3).counted("Tray").u8(5).counted("Out");
    for (size_t cut : {size_t(1), size_t(2), size_t(6), full.size() - 1}) {
        PrinterRig rig;
        rig.printer.answer(0x8F, full.first(cut));
        _CUSTOMNAME* names = kUntouched;
        unsigned short count = 9;
        EXPECT_EQ(rig.obj.bidiGetFormNames(&names, &count), -2) << cut;
        EXPECT_EQ(count, 9);
        EXPECT_EQ(names, kUntouched);
    }
}

TEST(CustomNames, WriteSendsTheTerminatedName) {
    for (const auto& op : kOperations) {
        PrinterRig rig;
        EXPECT_EQ((rig.obj.*op.write)(0x1202, "Tray"), 0);
        auto sent = rig.printer.lastRequest();
        EXPECT_EQ(sent.code, op.writeCode);
        EXPECT_EQ(sent.data, hex("01 02 05 54 72 61 79 00"));
        EXPECT_EQ(sent.capacity, 0u);   // no reply asked for
        EXPECT_EQ((rig.obj.*op.write)(7, ""), 0);
        EXPECT_EQ(rig.printer.lastRequest().data, hex("01 07 01 00"));
    }
}

TEST(CustomNames, LongestNameFitsTheLengthByte) {
    PrinterRig rig;
    EXPECT_EQ(rig.obj.bidiSetFormName(1, std::string(254, 'n')), 0);
    auto sent = rig.printer.lastRequest();
    EXPECT_EQ(sent.data.size(), 258u);
    EXPECT_EQ(sent.data[2], 255);
    EXPECT_EQ(sent.data.back(), 0);
    EXPECT_EQ(rig.obj.bidiSetFormName(1, std::string(255, 'n')), -3);
    EXPECT_EQ(rig.printer.requestCount(), 1u);
}
