#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;
using OUTPUTBIN = KVPrtObj::OUTPUTBIN;

namespace {

Bytes outputBin(unsigned number, unsigned byte1, uint32_t capacity, unsigned byte6, unsigned byte7,
                std::string_view name) {
    return Bytes().u8(number).u8(byte1).be32(capacity).u8(byte6).u8(byte7).counted(name);
}

struct OutputBins : ::testing::Test {
    PrinterRig rig;
    unsigned int count = 99;
    OUTPUTBIN* bins = nullptr;
    ~OutputBins() override { delete[] bins; }

    long query(const ByteVec& bytes, KVPrtObj& obj) {
        delete[] bins;
        bins = nullptr;
        rig.printer.setHandler([bytes](const SentRequest&) { return reply(bytes); });
        return obj.bidiGetOutputChars(&count, &bins);
    }
    long query(const ByteVec& bytes) { return query(bytes, rig.obj); }
};

std::vector<uint32_t> bits(const OUTPUTBIN& b) {
    return {b.ulByte6Bit0, b.ulByte6Bit1, b.ulByte6Bit2, b.ulByte6Bit3, b.ulByte6Bit4,
            b.ulByte6Bit5, b.ulByte7Bit0, b.ulByte7Bit1, b.ulByte7Bit2, b.ulByte7Bit7};
}

}  // namespace

TEST_F(OutputBins, DecodesEachRecordAndSpreadsThePropertyBits) {
    ASSERT_EQ(query(Bytes().u8(4)
                        .raw(outputBin(1, 0x21, 0x000001F4, 0xD5, 0x7A, "Standard Bin"))
                        .raw(outputBin(2, 1, 0x01F44164, 0x2A, 0x85, ""))
                        .raw(outputBin(4, 1, 9, 0x01, 0, std::string("\0ab", 3)))
                        .raw(outputBin(3, 2, 0, 0xFF, 0xFF, "Bin2:Finisher"))), 0);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(std::tuple(bins[0].usBinNumber, bins[0].usByte1, bins[0].ulCapacity, bins[0].strName, bins[0].usBinId),
              std::tuple(1, 0x21, 500u, CString("Standard Bin"), 7205));
    EXPECT_EQ(bits(bins[0]), (std::vector<uint32_t>{1, 0, 1, 0, 1, 0, 0, 1, 0, 0}));
    EXPECT_EQ(bins[1].ulCapacity, 0x01F44164u);   // no 500 exception on this side
    EXPECT_EQ(bits(bins[1]), (std::vector<uint32_t>{0, 1, 0, 1, 0, 1, 1, 0, 1, 1}));
    EXPECT_EQ(bins[1].usBinId, 7201);
    EXPECT_EQ(bits(bins[3]), (std::vector<uint32_t>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(bins[3].usBinId, 7211);   // a named bin takes no id from its bits
    // A name beginning with a zero byte is no name, and the walk still steps over it.
    EXPECT_EQ(std::tuple(bins[2].usBinNumber, bins[2].ulCapacity, bins[2].strName, bins[2].usBinId),
              std::tuple(4, 9u, CString(), 7203));
}

TEST(OutputBinNames, TheTwentyNamesAndNothingElse) {
    struct Steps : OpenPrtObj {
        using KVPrtObj::parseOutputBinsByName;
    } s;
    std::vector<std::pair<std::string, unsigned>> cases = {
        {"Standard Bin", 7205}, {"Bin1:500-Sheet Output Stacker", 7206}, {"Bin3:500-Sheet Output Stacker", 7208},
        {"Bin1:High Capacity Output Stacker", 7209}, {"Bin4:500-Sheet Output Stacker", 1234}, {"Bin16:Finisher", 1234},
        {"Bin0:Finisher", 1234}, {"bin1:finisher", 1234}, {"Standard bin", 1234}, {"Bin1:Finisher ", 1234},
    };
    for (unsigned k = 1; k <= 15; ++k) cases.push_back({"Bin" + std::to_string(k) + ":Finisher", 7209 + k});
    for (const auto& [name, id] : cases) {
        unsigned short got = 1234;
        s.parseOutputBinsByName(name, &got);
        EXPECT_EQ(got, id) << name;
    }
}

TEST_F(OutputBins, UnnamedBinsTakeTheFirstPropertyRuleThatHolds) {
    struct Case {
        unsigned byte1, byte6, byte7, id;
    } cases[] = {
        {1, 0x21, 0x00, 7203}, {1, 0x20, 0x00, 7201}, {1, 0x01, 0x07, 7203}, {2, 0x21, 0x04, 7204},
        {0, 0x00, 0x01, 7204}, {0, 0x00, 0x02, 7204}, {2, 0x21, 0x00, 0},    {1, 0x1E, 0x78, 0},
        {0, 0x00, 0x80, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(query(Bytes().u8(1).raw(outputBin(4, c.byte1, 0, c.byte6, c.byte7, ""))), 0);
        EXPECT_EQ(bins[0].usBinId, c.id) << c.byte1 << " " << std::hex << c.byte6 << " " << c.byte7;
    }
}

TEST_F(OutputBins, TheQueryCallsAnOverriddenStep) {
    struct Custom : OpenPrtObj {
        using OpenPrtObj::OpenPrtObj;
        void parseOutputBinsByName(const CString& name, unsigned short* id) override {
            *id = name == "Mailbox" ? 7300 : 7301;
        }
    } obj(rig.attached.handle, 0);
    obj.setBidi(1);
    const Bytes two =
        Bytes().u8(2).raw(outputBin(1, 0, 0, 0, 0, "Mailbox")).raw(outputBin(2, 0, 0, 0, 0, "Standard Bin"));
    ASSERT_EQ(query(two, obj), 0);
    EXPECT_EQ(bins[0].usBinId, 7300);
    EXPECT_EQ(bins[1].usBinId, 7301);
}

TEST_F(OutputBins, EmptyListsAndShortReplies) {
    ASSERT_EQ(query(Bytes{0}), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(bins, nullptr);

    const ByteVec bin = outputBin(1, 0, 0, 0, 0, "Standard Bin");
    const std::vector<ByteVec> shortReplies = {
        {},
        Bytes().u8(2).raw(bin),
        Bytes().u8(1).raw(ByteVec(bin.begin(), bin.begin() + 8)),
        Bytes().u8(1).raw(ByteVec(bin.begin(), bin.end() - 1)),
    };
    for (const ByteVec& r : shortReplies) {
        count = 99;
        EXPECT_EQ(query(r), -2) << toHex(r);
        EXPECT_EQ(count, 99u);
        EXPECT_EQ(bins, nullptr);
    }
}
