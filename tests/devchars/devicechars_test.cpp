#include <gtest/gtest.h>

#include "scripted_printer.h"

using namespace kvtest;

namespace {

// A device-characteristics reply: bytes 2, 7 and 11, the byte count at 19-22
// and the three counted texts from offset 33.
Bytes deviceChars(uint8_t b2, uint8_t b7, uint8_t b11, uint32_t byteCount, const std::string& t1 = "",
                  const std::string& t2 = "", const std::string& t3 = "") {
    return Bytes()
        .zeros(2).u8(b2).zeros(4).u8(b7).zeros(3).u8(b11).zeros(7).be32(byteCount).zeros(10)
        .counted(t1).counted(t2).counted(t3);
}

KVPrtObj::DEVICECHARS marked() {
    KVPrtObj::DEVICECHARS c;
    c.byReply7 = 0xAA;
    c.ulReply2 = c.ulReply11 = c.ulSizeKB = 0xBBBB;
    c.strText1 = c.strCodeLevel = c.strText3 = "old";
    return c;
}

}  // namespace

TEST(DeviceChars, DecodesTheReplyAndKeepsTheCodeLevel) {
    PrinterRig rig;
    rig.printer.answer(0x10, deviceChars(2, 7, 0xFB, 0x00100000, "one", "x3.1.0.0", "three"));
    auto c = marked();
    ASSERT_EQ(rig.obj.bidiGetDeviceChars(&c), 0);
    EXPECT_EQ(rig.printer.lastRequest().code, 0x10);
    EXPECT_TRUE(rig.printer.lastRequest().data.empty());
    EXPECT_EQ(c.ulReply2, 2u);
    EXPECT_EQ(c.byReply7, 7);
    EXPECT_EQ(c.ulReply11, 0xFBu);
    EXPECT_EQ(c.ulSizeKB, 1024u);
    EXPECT_EQ(c.strText1, "one");
    EXPECT_EQ(c.strCodeLevel, "x3.1.0.0");
    EXPECT_EQ(c.strText3, "three");
    EXPECT_EQ(rig.obj.m_strCodeLevel, "x3.1.0.0");
}

TEST(DeviceChars, SizeIsAnUnsignedByteCountInKilobytes) {
    const std::pair<uint32_t, uint32_t> cases[] = {{0x00100000, 1024}, {0x3FF, 0}, {0xFFFFFFFF, 4194303}};
    for (auto [bytes, kb] : cases) {
        PrinterRig rig;
        rig.printer.answer(0x10, deviceChars(0, 0, 0, bytes));
        KVPrtObj::DEVICECHARS c;
        ASSERT_EQ(rig.obj.bidiGetDeviceChars(&c), 0);
        EXPECT_EQ(c.ulSizeKB, kb) << bytes;
    }
}

TEST(DeviceChars, EmptyTextsLeaveTheKeptCodeLevel) {
    PrinterRig rig;
    rig.obj.m_strCodeLevel = "kept";
    rig.printer.answer(0x10, deviceChars(0, 0, 0, 0));
    auto c = marked();
    ASSERT_EQ(rig.obj.bidiGetDeviceChars(&c), 0);
    EXPECT_EQ(c.strText1 + c.strCodeLevel + c.strText3, "");
    EXPECT_EQ(rig.obj.m_strCodeLevel, "kept");
}

TEST(DeviceChars, FailuresEmptyTheTextsOnly) {
    PrinterRig rig;
    rig.obj.setBidi(0);
    auto c = marked();
    EXPECT_EQ(rig.obj.bidiGetDeviceChars(&c), -11);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
    EXPECT_EQ(c.strText1 + c.strCodeLevel + c.strText3, "");
    EXPECT_EQ(c.byReply7, 0xAA);
    EXPECT_EQ(c.ulSizeKB, 0xBBBBu);
    EXPECT_EQ(rig.obj.bidiGetDeviceChars(nullptr), -18);
}

TEST(DeviceChars, ShortRepliesAreBadReplies) {
    const Bytes full = deviceChars(1, 2, 3, 4096, "a", "x9", "c");
    for (size_t cut : {size_t(10), size_t(21), size_t(33), size_t(36), full.size() - 1}) {
        PrinterRig rig;
        rig.obj.m_strCodeLevel = "kept";
        rig.printer.answer(0x10, full.first(cut));
        auto c = marked();
        EXPECT_EQ(rig.obj.bidiGetDeviceChars(&c), -2) << cut;
        EXPECT_EQ(c.strText1 + c.strCodeLevel + c.strText3, "");
        EXPECT_EQ(c.ulReply2, 0xBBBBu);
        EXPECT_EQ(c.ulSizeKB, 0xBBBBu);
        EXPECT_EQ(rig.obj.m_strCodeLevel, "kept");
    }
}
