#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;

TEST(AvailablePorts, FlagsThePortsBelowN) {
    const std::pair<ByteVec, std::vector<int>> cases[] = {
        {hex("03 00 02 07"), {1, 0, 1, 0}},
        {hex("00 01 02"), {0, 0, 0, 0}},
        {hex("05 03"), {0, 0, 0, 1}},   // count larger than the list: the listed port only
    };
    for (const auto& [answer, expected] : cases) {
        PrinterRig rig;
        rig.printer.answer(0x9B, Bytes(answer));
        std::vector<int> flags(4, 1);
        EXPECT_EQ(rig.obj.bidiGetAvailablePorts(4, flags.data()), 0);
        EXPECT_EQ(std::tuple(flags, rig.printer.lastRequest().data), std::tuple(expected, ByteVec{})) << toHex(answer);
    }
}

TEST(AvailablePorts, FailureClearsAllFlags) {
    PrinterRig rig;
    rig.printer.answer(0x9B, fail(-3));
    std::vector<int> flags(3, 1);
    EXPECT_EQ(rig.obj.bidiGetAvailablePorts(3, flags.data()), -3);
    EXPECT_EQ(flags, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(rig.obj.bidiGetAvailablePorts(3, nullptr), -18);
    EXPECT_EQ(rig.printer.requestCount(), 1u);
    flags.assign(3, 1);
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
