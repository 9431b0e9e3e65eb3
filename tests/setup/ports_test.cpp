#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;

TEST(AvailablePorts, FlagsThePortsBelowNAndAFailureClearsThemAll) {
    const std::tuple<Answer, long, std::vector<int>> cases[] = {
        {reply(hex("03 00 02 07")), 0, {1, 0, 1, 0}},
        {reply(hex("00 01 02")), 0, {0, 0, 0, 0}},
        {reply(hex("05 03")), 0, {0, 0, 0, 1}},   // count larger than the list: the listed port only
        {fail(-3), -3, {0, 0, 0, 0}},
    };
    for (const auto& [answer, rc, expected] : cases) {
        PrinterRig rig;
        rig.printer.answer(0x9B, answer);
        std::vector<int> flags(4, 1);
        EXPECT_EQ(rig.obj.bidiGetAvailablePorts(4, flags.data()), rc);
        EXPECT_EQ(std::tuple(flags, rig.printer.lastRequest().data), std::tuple(expected, ByteVec{})) << rc;
    }
    PrinterRig rig;
    rig.printer.answer(0x9B, fail(-3));
    std::vector<int> flags(3, 1);
    EXPECT_EQ(rig.obj.bidiGetAvailablePorts(3, nullptr), -18);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
    EXPECT_EQ(rig.obj.bidiGetAvailablePorts(-1, flags.data()), -3);   // a negative count is no flags
    EXPECT_EQ(flags, (std::vector<int>{1, 1, 1}));
}

// A tag set and read runs in the round trip; here the read sends nothing and an empty tag is sent bare.
TEST(PropertyTag, ReadSendsNothingAndAnEmptyTagIsTheIdAlone) {
    PrinterRig rig;
    KVPrtObj::PROPERTYTAG tag{"old"};
    EXPECT_EQ(rig.obj.bidiGetPropertyTag(&tag), 0);
    EXPECT_EQ(rig.obj.bidiGetPropertyTag(nullptr), -18);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
    rig.printer.answer(0x4F, Bytes{0x00, 0x07, 0x54});
    EXPECT_TRUE(rig.obj.bidiSetPropertyTag("") == 0 && rig.printer.lastRequest().data == hex("07 54"));
}
