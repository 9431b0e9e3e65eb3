#include <gtest/gtest.h>

#include "scripted_printer.h"

using namespace kvtest;

TEST(PageCounts, EntriesByType) {
    PrinterRig rig;
    rig.printer.answer(0x0C, hex("04 01 00 00 01 00 02 00 00 00 2A 03 00 00 00 09 04 00 01 00 00"));
    KVPrtObj::PAGECOUNTDATA counts{1, 2, 3, 4};
    EXPECT_EQ(rig.obj.bidiGetPageCounts(&counts), 0);
    EXPECT_EQ(counts.dwPageCountType1, 256u);
    EXPECT_EQ(counts.dwPageCountType2, 42u);
    EXPECT_EQ(counts.dwPageCountType3, 0u);
    EXPECT_EQ(counts.dwPageCountType4, 65536u);
}

TEST(PageCounts, LaterEntryWinsAndTruncatedEntriesAreIgnored) {
    PrinterRig rig;
    // Three entries claimed; the third is cut short by the end of the reply.
    rig.printer.answer(0x0C, hex("03 01 00 00 00 05 01 FF FF FF FF 02 00 00"));
    KVPrtObj::PAGECOUNTDATA counts;
    EXPECT_EQ(rig.obj.bidiGetPageCounts(&counts), 0);
    EXPECT_EQ(counts.dwPageCountType1, 0xFFFFFFFFu);
    EXPECT_EQ(counts.dwPageCountType2, 0u);
}

TEST(PageCounts, EmptyListAndFailures) {
    PrinterRig rig;
    rig.printer.answer(0x0C, hex("00"));
    rig.printer.answer(0x0C, fail(-17));
    KVPrtObj::PAGECOUNTDATA counts{1, 2, 3, 4};
    EXPECT_EQ(rig.obj.bidiGetPageCounts(&counts), 0);
    EXPECT_EQ(counts.dwPageCountType1 + counts.dwPageCountType2 + counts.dwPageCountType4, 0u);
    counts = {1, 2, 3, 4};
    EXPECT_EQ(rig.obj.bidiGetPageCounts(&counts), -17);
    EXPECT_EQ(counts.dwPageCountType1, 0u);   // cleared before the request
}

TEST(ControlCommands, RequestsAndNoReplyWanted) {
    struct Case {
        const char* name;
        long (KVPrtObj::*op)();
        unsigned short code;
        ByteVec data;
    };
    const Case cases[] = {
        {"reset host page count", &KVPrtObj::bidiResetHostPageCount, 0x36, {}},
        {"power-on reset", &KVPrtObj::bidiPORPrinter, 0x31, {0x01}},
        {"reset NVRAM", &KVPrtObj::bidiResetNVRAM, 0x6D, {0x00}},
    };
    for (const auto& c : cases) {
        PrinterRig rig;
        EXPECT_EQ((rig.obj.*c.op)(), 0) << c.name;
        auto r = rig.printer.lastRequest();
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_EQ(r.data, c.data) << c.name;
        EXPECT_EQ(r.capacity, 0u) << c.name;
        rig.obj.setBidi(0);
        EXPECT_EQ((rig.obj.*c.op)(), -11) << c.name;
        EXPECT_EQ(rig.printer.requestCount(), 1u) << c.name;
    }
}

TEST(ControlCommands, RemoteOfflineAndOnlineCheckTheEcho) {
    struct Case {
        bool offline;
        ByteVec answer;   // after the strip
        long rc;
    };
    const Case cases[] = {
        {true, hex("00 01 01"), 0},    {true, hex("00 01 00"), -2}, {true, hex("00 01"), -2},
        {false, hex("00 00 01 99"), 0}, {false, hex("00 01 01"), -2},
    };
    for (const auto& c : cases) {
        PrinterRig rig;
        rig.printer.answer(0x8D, c.answer);
        long rc = c.offline ? rig.obj.SendRemoteOffline() : rig.obj.SendRemoteOnline();
        EXPECT_EQ(rc, c.rc) << toHex(c.answer);
        EXPECT_EQ(rig.printer.lastRequest().data, c.offline ? hex("01 03") : hex("00"));
        EXPECT_EQ(rig.obj.isBidiActive(), 1);   // the operation's own -2 does not move the flag
    }
    PrinterRig down;
    down.obj.setBidi(0);
    EXPECT_EQ(down.obj.SendRemoteOffline(), -11);
    EXPECT_EQ(down.printer.requestCount(), 0u);
}
