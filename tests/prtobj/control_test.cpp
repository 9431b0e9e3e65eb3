#include <gtest/gtest.h>

#include <tuple>

#include "scripted_printer.h"

using namespace kvtest;

TEST(PageCounts, EntriesByTypeLaterWinsTruncatedIgnored) {
    const std::tuple<const char*, uint32_t, uint32_t, uint32_t> cases[] = {
        {"04 01 00 00 01 00 02 00 00 00 2A 03 00 00 00 09 04 00 01 00 00", 256, 42, 65536},
        // Three entries claimed; the third is cut short by the end of the reply.
        {"03 01 00 00 00 05 01 FF FF FF FF 02 00 00", 0xFFFFFFFF, 0, 0},
        {"00", 0, 0, 0},
    };
    for (auto [text, type1, type2, type4] : cases) {
        PrinterRig rig;
        rig.printer.answer(0x0C, hex(text));
        KVPrtObj::PAGECOUNTDATA counts{1, 2, 3, 4};
        EXPECT_EQ(rig.obj.bidiGetPageCounts(&counts), 0);
        EXPECT_EQ(std::tuple(counts.dwPageCountType1, counts.dwPageCountType2, counts.dwPageCountType3,
                             counts.dwPageCountType4),
                  std::tuple(type1, type2, 0u, type4))
            << text;
    }
    PrinterRig rig;
    rig.printer.answer(0x0C, fail(-17));
    KVPrtObj::PAGECOUNTDATA counts{1, 2, 3, 4};
    EXPECT_EQ(rig.obj.bidiGetPageCounts(&counts), -17);
    EXPECT_EQ(counts.dwPageCountType1, 0u);   // cleared before the request
}

TEST(ControlCommands, RequestsAndNoReplyWanted) {
    const std::tuple<long (KVPrtObj::*)(), unsigned short, ByteVec> cases[] = {
        {&KVPrtObj::bidiResetHostPageCount, 0x36, {}},
        {&KVPrtObj::bidiPORPrinter, 0x31, {0x01}},
        {&KVPrtObj::bidiResetNVRAM, 0x6D, {0x00}},
    };
    for (const auto& [op, code, data] : cases) {
        PrinterRig rig;
        EXPECT_EQ((rig.obj.*op)(), 0) << code;
        auto r = rig.printer.lastRequest();
        EXPECT_EQ(std::tuple(r.code, r.data, r.capacity), std::tuple(code, data, 0ul));
        rig.obj.setBidi(0);
        EXPECT_EQ((rig.obj.*op)(), -11) << code;
        EXPECT_EQ(rig.printer.requestCount(), 1u) << code;
    }
}

TEST(ControlCommands, RemoteOfflineAndOnlineCheckTheEcho) {
    const std::tuple<bool, ByteVec, long> cases[] = {   // the answer after the strip
        {true, hex("00 01 01"), 0},    {true, hex("00 01 00"), -2}, {true, hex("00 01"), -2},
        {false, hex("00 00 01 99"), 0}, {false, hex("00 01 01"), -2},
    };
    for (const auto& [offline, answer, expected] : cases) {
        PrinterRig rig;
        rig.printer.answer(0x8D, answer);
        long rc = offline ? rig.obj.SendRemoteOffline() : rig.obj.SendRemoteOnline();
        // The operation's own -2 does not move the bidi flag.
        EXPECT_EQ(std::tuple(rc, rig.printer.lastRequest().data, rig.obj.isBidiActive()),
                  std::tuple(expected, offline ? hex("01 03") : hex("00"), 1))
            << toHex(answer);
    }
}
