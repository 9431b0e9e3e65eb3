#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "scripted_printer.h"

using namespace kvtest;

namespace {

struct Operations {
    long (KVPrtObj::*write)(unsigned short, const CString&);
    unsigned short writeCode;
};
const Operations kOperations[] = {{&KVPrtObj::bidiSetFormName, 0x91}, {&KVPrtObj::bidiSetOutputBinNickname, 0x92}};

auto* const kUntouched = reinterpret_cast<_CUSTOMNAME*>(0x1);

}  // namespace

// Names are read end to end in the round trip. Here: a one-character name is
// no name; cut-short replies touch nothing; a reply without names gives count
// 0 and no array.
TEST(CustomNames, ReadRefusesShortRepliesAndWriteWantsNoReplyAndBoundsTheName) {
    PrinterRig named;
    named.printer.answer(0x8E, Bytes().raw({0x00, 0x02}).u8(3).counted("Tr").u8(5).counted("X"));
    _CUSTOMNAME* read = nullptr;
    unsigned short n = 0;
    ASSERT_EQ(named.obj.bidiGetOutputBinNicknames(&read, &n), 0);
    std::unique_ptr<_CUSTOMNAME[]> owned(read);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(std::tuple(read[0].strName, read[1].usNumber, read[1].strName), std::tuple(CString("Tr"), 5, CString()));
    EXPECT_EQ(named.obj.bidiGetOutputBinNicknames(&read, nullptr), -18);   // either pointer null: nothing asked
    const Bytes full = Bytes().raw({0x00, 0x02}).u8(3).counted("Tray").u8(5).counted("Out");
    for (size_t cut : {size_t(1), size_t(2), size_t(6), full.size() - 1, size_t(0)}) {
        PrinterRig rig;
        rig.printer.answer(0x8F, cut ? full.first(cut) : Bytes{0x00, 0x00});
        _CUSTOMNAME* names = kUntouched;
        unsigned short count = 9;
        long rc = rig.obj.bidiGetFormNames(&names, &count);
        EXPECT_EQ(std::tuple(rc, count, names), std::tuple(cut ? -2l : 0l, cut ? 9 : 0, kUntouched)) << cut;
    }

    // A write that reads back runs in the round trip; here no reply is asked for
    // and the longest name fits the length byte.
    for (const auto& op : kOperations) {
        PrinterRig rig;
        EXPECT_EQ((rig.obj.*op.write)(1, std::string(254, 'n')), 0);
        auto sent = rig.printer.lastRequest();
        EXPECT_EQ(std::tuple(sent.code, sent.data, sent.capacity),
                  std::tuple(op.writeCode, Bytes{0x01, 0x01, 0xFF}.fill(254, 'n').u8(0).vec(), 0ul));
        EXPECT_EQ((rig.obj.*op.write)(1, std::string(255, 'n')), -3);   // refused before it is sent
        EXPECT_EQ(rig.printer.requestCount(), 1u);
    }
}
