#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;
using INPUTBIN = KVPrtObj::INPUTBIN;
using INPUTCHARS = KVPrtObj::INPUTCHARS;

namespace {

// Byte 8 is 0x42; the bytes not read are 0xEE.
Bytes inputBin(unsigned number, uint32_t capacity, unsigned sizeCode, std::string_view name,
               std::string_view second = "") {
    return Bytes().u8(number).be32(capacity).fill(3, 0xEE).u8(0x42).u8(sizeCode).fill(20, 0xEE).counted(name).counted(
        second);
}

struct Steps : OpenPrtObj {
    using OpenPrtObj::OpenPrtObj;
    using KVPrtObj::parseInputBinsByID;
    using KVPrtObj::parseInputBinsByName;
    using KVPrtObj::parseInputCharsByID;
    using KVPrtObj::parseInputCharsByName;
};

struct InputBins : ::testing::Test {
    PrinterRig rig;
    unsigned int count = 99;
    INPUTBIN* bins = nullptr;
    ~InputBins() override { delete[] bins; }

    long query(const ByteVec& bytes, KVPrtObj& obj) {
        delete[] bins;
        bins = nullptr;
        rig.printer.setHandler([bytes](const SentRequest&) { return reply(bytes); });
        return obj.bidiGetInputChars(&count, &bins);
    }
    long query(const ByteVec& bytes) { return query(bytes, rig.obj); }
    std::vector<unsigned> idsOf() const {
        std::vector<unsigned> v;
        for (unsigned i = 0; i < count; ++i) v.push_back(bins[i].usBinId);
        return v;
    }
};

}  // namespace

TEST_F(InputBins, DecodesEachRecordAndWalksPastBothCountedTexts) {
    ASSERT_EQ(query(Bytes().u8(2).raw(inputBin(3, 250, 81, "Tray 1", "second")).raw(inputBin(9, 0x01F40000, 2, ""))),
              0);
    ASSERT_EQ(count, 2u);
    const INPUTBIN& b = bins[1];
    EXPECT_EQ(bins[0].strName, "Tray 1");
    EXPECT_EQ(std::vector<unsigned>({b.usBinNumber, b.ulCapacity, b.usByte8, b.usSizeCode, b.usBinId}),
              std::vector<unsigned>({9, 32768000, 0x42, 2, KVPrtObj::IB_NONE}));   // unnamed, unknown number
    EXPECT_EQ(b.strName, "");

    ASSERT_EQ(query(ByteVec{0}), 0);   // an empty list is an allocated array
    EXPECT_EQ(count, 0u);
    EXPECT_NE(bins, nullptr);
    // Only the exact capacity bytes 01 F4 41 64 stand for 500.
    for (auto [bytes, capacity] : {std::pair(0x01F44164u, 500u), std::pair(0x01F44165u, 0x01F44165u)}) {
        ASSERT_EQ(query(Bytes().u8(1).raw(inputBin(7, bytes, 0, ""))), 0);
        EXPECT_EQ(bins[0].ulCapacity, capacity) << std::hex << bytes;
    }
}

TEST_F(InputBins, UnnamedBinsGoByNumberWithTheReplysBinCount) {
    const Bytes three =
        Bytes().u8(3).raw(inputBin(4, 250, 2, "")).raw(inputBin(4, 500, 81, "")).raw(inputBin(4, 250, 81, ""));
    ASSERT_EQ(query(three), 0);
    EXPECT_EQ(idsOf(), (std::vector<unsigned>{7107, 7104, 7106}));
    ASSERT_EQ(query(Bytes().u8(5).raw(inputBin(4, 250, 2, "")).zeros(4 * 32)), 0);   // four more unnamed bins
    EXPECT_EQ(bins[0].usBinId, 7104);
}

TEST_F(InputBins, ANamedFeeder2TurnsThePreviousBinIntoTheFirstFeeder) {
    struct Case {
        std::vector<std::string> names;
        std::vector<unsigned> ids;
    } cases[] = {
        {{"Feeder", "Feeder 2"}, {7108, 7109}},
        {{"Tray 1", "Feeder 2", "Tray 2"}, {7108, 7109, 7104}},
        {{"Feeder 2", "Tray 1"}, {7109, 7103}},
        {{"", "Feeder 2"}, {7108, 7109}},   // the unnamed bin 1 before it too
    };
    for (const Case& c : cases) {
        Bytes reply = Bytes().u8(static_cast<unsigned>(c.names.size()));
        for (const std::string& name : c.names) reply.raw(inputBin(1, 100, 2, name));
        ASSERT_EQ(query(reply), 0);
        EXPECT_EQ(idsOf(), c.ids) << c.names[0] << ", " << c.names[1];
    }
}

TEST_F(InputBins, TheQueryCallsOverriddenStepsAndAdjustsOnlyTheNamedPath) {
    struct Custom : OpenPrtObj {
        using OpenPrtObj::OpenPrtObj;
        void parseInputBinsByName(int, const CString& name, unsigned short* id) override {
            if (name == "Big Tray") *id = 7109;
        }
        void parseInputBinsByID(int number, int, unsigned long, unsigned long, unsigned short* id) override {
            *id = static_cast<unsigned short>(number == 8 ? 7109 : 7000 + number);
        }
    } obj(rig.attached.handle, 0);
    obj.setBidi(1);
    ASSERT_EQ(query(Bytes().u8(4).raw(inputBin(1, 0, 0, "")).raw(inputBin(8, 0, 0, "")).raw(inputBin(3, 0, 0, "Tray 1"))
                        .raw(inputBin(4, 0, 0, "Big Tray")), obj), 0);
    // Bin 1 is not turned into 7108 by the unnamed 7109 after it; "Tray 1",
    // unknown to the override, was 0 before the 7109 after it.
    EXPECT_EQ(idsOf(), (std::vector<unsigned>{7001, 7109, 7108, 7109}));
}

TEST_F(InputBins, ShortRepliesLeaveTheArgumentsUntouched) {
    const ByteVec b = inputBin(3, 250, 2, "Tray 1", "xy");   // 30 fixed bytes, name at 31, M at 37
    for (const ByteVec& r : std::vector<ByteVec>{
             {}, Bytes().u8(2).raw(b), Bytes().u8(1).raw(ByteVec(b.begin(), b.begin() + 20)),
             Bytes().u8(1).raw(ByteVec(b.begin(), b.begin() + 33)),
             Bytes().u8(1).raw(ByteVec(b.begin(), b.begin() + 37)),
             Bytes().u8(1).raw(ByteVec(b.begin(), b.end() - 1))}) {
        EXPECT_EQ(query(r), -2) << toHex(r);
        EXPECT_EQ(count, 99u);
        EXPECT_EQ(bins, nullptr);
    }
}

TEST(InputBinSteps, NamesGiveTheirIdsExactly) {
    Steps s;
    struct Case {
        std::string name;
        int sizeCode;
        unsigned id;
    } cases[] = {
        {"Manual Paper", 0, 7101}, {"Manual Feed", 0, 7101}, {"Manual Envelope", 0, 7102}, {"Tray 1", 0, 7103},
        {"Tray 2", 0, 7104},       {"Tray 3", 0, 7105},      {"Tray 4", 0, 7111},          {"Tray 5", 0, 7112},
        {"MFF", 0, 7110},          {"MP Tray", 0, 7110},     {"Feeder", 79, 7107},         {"Feeder", 80, 7106},
        {"Feeder", -1, 7107},      {"Feeder 2", 90, 7109},   {"tray 1", 0, 1234},          {"Tray 6", 0, 1234},
        {"Tray 1 ", 0, 1234},      {"", 0, 1234},            {{"Tray 1\0\0", 8}, 0, 7103},   // compared as a C text
    };
    for (const Case& c : cases) {
        unsigned short id = 1234;
        s.parseInputBinsByName(c.sizeCode, c.name, &id);
        EXPECT_EQ(id, c.id) << c.name << " " << c.sizeCode;
    }
}

TEST(InputBinSteps, BinNumbersGiveTheirIds) {
    Steps s;
    struct Case {
        int number, sizeCode;
        unsigned long capacity, binCount;
        unsigned id;
    } cases[] = {
        {1, 0, 0, 1, 7101},   {2, 0, 0, 1, 7102},    {3, 0, 0, 1, 7103},    {4, 2, 500, 3, 7104},
        {4, 2, 250, 3, 7107}, {4, 81, 250, 3, 7106}, {4, 81, 250, 5, 7104}, {4, -5, 250, 4, 7107},
        {5, 79, 500, 9, 7107}, {5, 80, 0, 0, 7106},  {0, 0, 0, 0, 1234},    {6, 0, 500, 9, 1234},
    };
    for (const Case& c : cases) {
        unsigned short id = 1234;
        s.parseInputBinsByID(c.number, c.sizeCode, c.capacity, c.binCount, &id);
        EXPECT_EQ(id, c.id) << c.number << " size " << c.sizeCode << " capacity " << c.capacity << " of " << c.binCount;
    }
}

// Found by argument-dependent lookup in the records' namespace.
namespace kvrec {
static bool operator==(const INPUTCHARS& a, const INPUTCHARS& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace kvrec

TEST(InputCharsSteps, EachNameWritesTheFieldsOfItsSource) {
    Steps s;
    struct Case {
        const char* name;
        int sizeCode;
        INPUTCHARS expected;
    } cases[] = {
        {"Manual Paper", 5, {.ulManualPaperBin = 2, .ulManualPaperSize = 5, .ulManualPaperAttr = 7}},
        {"Manual Envelope", 5, {.ulManualEnvelopeBin = 2, .ulManualEnvelopeSize = 5, .ulManualEnvelopeAttr = 7}},
        {"Tray 1", 5, {.ulTray1Bin = 2, .ulTray1Size = 5, .ulTray1Attr = 7, .ulTray1Capacity = 500}},
        {"Tray 2", 5, {.ulTray2Bin = 2, .ulTray2Size = 5, .ulTray2Attr = 7, .ulTray2Capacity = 500}},
        {"Tray 3", 5, {.ulTray3Bin = 2, .ulTray3Size = 5, .ulTray3Attr = 7, .ulTray3Capacity = 500}},
        {"Feeder", 80, {.ulFeederBinHigh = 2, .ulFeederSize = 80, .ulFeederAttr = 7}},
        {"Feeder", 79, {.ulFeederBinLow = 2, .ulFeederSize = 79, .ulFeederAttr = 7}},
        {"Feeder 2", 80, {.ulTwoFeeders = 1, .ulFeeder2BinHigh = 2, .ulFeeder2Size = 80, .ulFeeder2Attr = 7}},
        {"Feeder 2", 79, {.ulTwoFeeders = 1, .ulFeeder2Size = 79, .ulFeeder2Attr = 7}},
        {"Manual Feed", 5, {}},
        {"tray 1", 5, {}},
    };
    for (const Case& c : cases) {
        INPUTCHARS chars;
        s.parseInputCharsByName(2, c.sizeCode, 7, 500, c.name, &chars);
        EXPECT_EQ(chars, c.expected) << c.name << " " << c.sizeCode;
    }
}

TEST(InputCharsSteps, TheSecondFeederMovesTheFirstIntoTheFeeder1Fields) {
    Steps s;
    INPUTCHARS chars;
    s.parseInputCharsByName(5, 90, 3, 0, "Feeder", &chars);
    s.parseInputCharsByName(6, 85, 4, 0, "Feeder 2", &chars);
    EXPECT_EQ(chars, (INPUTCHARS{.ulTwoFeeders = 1, .ulFeeder1BinHigh = 5, .ulFeeder2BinHigh = 6, .ulFeederSize = 90,
                                 .ulFeeder1Size = 90, .ulFeeder2Size = 85, .ulFeederAttr = 3, .ulFeeder1Attr = 3,
                                 .ulFeeder2Attr = 4}));

    INPUTCHARS reversed;   // "Feeder 2" first: the later "Feeder" keeps the single-feeder fields
    s.parseInputCharsByName(6, 85, 4, 0, "Feeder 2", &reversed);
    s.parseInputCharsByName(5, 20, 3, 0, "Feeder", &reversed);
    EXPECT_EQ(std::vector<uint32_t>({reversed.ulFeederBinLow, reversed.ulFeeder1BinHigh, reversed.ulFeeder2BinHigh}),
              std::vector<uint32_t>({5, 0, 6}));
}

TEST(InputCharsSteps, BinNumbersWriteTheirSources) {
    Steps s;
    struct Case {
        int number;
        unsigned long capacity, binCount;
        INPUTCHARS expected;
    } cases[] = {
        {1, 250, 3, {.ulManualPaperBin = 1, .ulManualPaperSize = 81, .ulManualPaperAttr = 7}},
        {2, 250, 3, {.ulManualEnvelopeBin = 2, .ulManualEnvelopeSize = 81, .ulManualEnvelopeAttr = 7}},
        {3, 250, 3, {.ulTray1Bin = 3, .ulTray1Size = 81, .ulTray1Attr = 7, .ulTray1Capacity = 250}},
        {4, 500, 3, {.ulTray2Bin = 4, .ulTray2Size = 81, .ulTray2Attr = 7, .ulTray2Capacity = 500}},
        {4, 250, 5, {.ulTray2Bin = 4, .ulTray2Size = 81, .ulTray2Attr = 7, .ulTray2Capacity = 250}},
        {4, 250, 4, {.ulFeederBinHigh = 4, .ulFeederSize = 81, .ulFeederAttr = 7}},
        {5, 500, 9, {.ulFeederBinHigh = 5, .ulFeederSize = 81, .ulFeederAttr = 7}},
        {6, 500, 9, {}},
    };
    for (const Case& c : cases) {
        INPUTCHARS chars;
        s.parseInputCharsByID(c.number, 81, 7, c.capacity, c.binCount, &chars);
        EXPECT_EQ(chars, c.expected) << c.number << " capacity " << c.capacity << " of " << c.binCount;
    }
}
