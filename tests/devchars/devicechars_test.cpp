#include <gtest/gtest.h>

#include <tuple>

#include "scripted_printer.h"

using namespace kvtest;

namespace {

// A device-characteristics reply: bytes 2, 7 and 11, the byte count at 19-22
// and the three counted texts from offset 33.
Bytes deviceChars(uint32_t byteCount, const std::string& t1 = "", const std::string& t2 = "",
                  const std::string& t3 = "") {
    return Bytes().zeros(2).u8(2).zeros(4).u8(7).zeros(3).u8(0xFB).zeros(7).be32(byteCount).zeros(10)
        .counted(t1).counted(t2).counted(t3);
}

KVPrtObj::DEVICECHARS marked() {
    KVPrtObj::DEVICECHARS c;
    c.byReply7 = 0xAA;
    c.ulReply2 = c.ulReply11 = c.ulSizeKB = 0xBBBB;
    c.strText1 = c.strCodeLevel = c.strText3 = "old";
    return c;
}

auto texts(const KVPrtObj::DEVICECHARS& c) { return c.strText1 + "|" + c.strCodeLevel + "|" + c.strText3; }

}  // namespace

// Field decoding is checked end to end by the simulator round trip.
TEST(DeviceChars, SizeInKilobytesEmptyTextsKeepTheCodeLevelFailuresEmptyTheTextsOnly) {
    PrinterRig rig;
    rig.printer.answer(0x10, deviceChars(0x00100000, "one", "x3.1.0.0", "three"));
    auto c = marked();
    ASSERT_EQ(rig.obj.bidiGetDeviceChars(&c), 0);
    EXPECT_TRUE(rig.printer.lastRequest().data.empty());
    for (auto [bytes, kb] : {std::pair(0x3FFu, 0u), std::pair(0xFFFFFFFFu, 4194303u)}) {
        rig.printer.answer(0x10, deviceChars(bytes));
        ASSERT_EQ(rig.obj.bidiGetDeviceChars(&c), 0);
        EXPECT_EQ(std::tuple(c.ulSizeKB, texts(c), rig.obj.m_strCodeLevel),
                  std::tuple(kb, CString("||"), CString("x3.1.0.0")))
            << bytes;
    }

    // Inactive bidi and cut-short replies: texts emptied, numbers and kept level untouched.
    const Bytes full = deviceChars(4096, "a", "x9", "c");
    for (size_t cut : {size_t(0), size_t(21), size_t(33), size_t(36), full.size() - 1}) {
        PrinterRig failing;
        failing.obj.m_strCodeLevel = "kept";
        failing.printer.answer(0x10, full.first(cut));
        if (cut == 0) failing.obj.setBidi(0);
        auto chars = marked();
        EXPECT_EQ(failing.obj.bidiGetDeviceChars(&chars), cut == 0 ? -11 : -2) << cut;
        EXPECT_EQ(std::tuple(texts(chars), chars.byReply7, chars.ulReply2, chars.ulSizeKB, failing.obj.m_strCodeLevel),
                  std::tuple(CString("||"), 0xAA, 0xBBBBu, 0xBBBBu, CString("kept")));
    }
}
