// Input and output bins: the records of a reply, the ids and characteristics the steps give.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;
using INPUTBIN = KVPrtObj::INPUTBIN;
using INPUTCHARS = KVPrtObj::INPUTCHARS;
using OUTPUTBIN = KVPrtObj::OUTPUTBIN;

namespace {

// Byte 8 is 0x42; the bytes not read are 0xEE.
Bytes inputBin(unsigned number, uint32_t capacity, unsigned sizeCode, std::string_view name,
               std::string_view second = "") {
    return Bytes().u8(number).be32(capacity).fill(3, 0xEE).u8(0x42).u8(sizeCode).fill(20, 0xEE).counted(name).counted(
        second);
}

Bytes outputBin(unsigned number, unsigned byte1, uint32_t capacity, unsigned byte6, unsigned byte7,
                std::string_view name) {
    return Bytes().u8(number).u8(byte1).be32(capacity).u8(byte6).u8(byte7).counted(name);
}

struct Steps : OpenPrtObj {
    using OpenPrtObj::OpenPrtObj;
    using KVPrtObj::parseInputBinsByID;
    using KVPrtObj::parseInputBinsByName;
    using KVPrtObj::parseInputCharsByID;
    using KVPrtObj::parseInputCharsByName;
    using KVPrtObj::parseOutputBinsByName;
};

// The bins of one query, input or output, with every request answered by the given reply.
template <typename Bin>
struct Bins {
    PrinterRig rig;
    unsigned int count = 99;
    Bin* bins = nullptr;
    ~Bins() { delete[] bins; }

    long query(const ByteVec& bytes, KVPrtObj& obj) {
        delete[] bins;
        bins = nullptr;
        rig.printer.setHandler([bytes](const SentRequest&) { return reply(bytes); });
        if constexpr (std::is_same_v<Bin, INPUTBIN>)
            return obj.bidiGetInputChars(&count, &bins);
        else
            return obj.bidiGetOutputChars(&count, &bins);
    }
    long query(const ByteVec& bytes) { return query(bytes, rig.obj); }
    std::vector<unsigned> ids() const {
        std::vector<unsigned> v;
        for (unsigned i = 0; i < count; ++i) v.push_back(bins[i].usBinId);
        return v;
    }
};
using InputBins = Bins<INPUTBIN>;
using OutputBins = Bins<OUTPUTBIN>;

std::vector<uint32_t> bits(const OUTPUTBIN& b) {
    return {b.ulByte6Bit0, b.ulByte6Bit1, b.ulByte6Bit2, b.ulByte6Bit3, b.ulByte6Bit4,
            b.ulByte6Bit5, b.ulByte7Bit0, b.ulByte7Bit1, b.ulByte7Bit2, b.ulByte7Bit7};
}

}  // namespace

TEST(InputBins, RecordsAndTheIdsOfUnnamedBinsAndFeeders) {
    InputBins t;
    ASSERT_EQ(t.query(Bytes().u8(2).raw(inputBin(3, 250, 81, "Tray 1", "second")).raw(inputBin(9, 0x01F44164, 2, ""))),
              0);
    EXPECT_EQ(std::tuple(t.count, t.bins[1].usBinNumber, t.bins[1].ulCapacity, t.bins[1].usBinId),
              std::tuple(2u, 9, 500u, KVPrtObj::IB_NONE));   // unnamed, unknown number
    ASSERT_EQ(t.query(Bytes().u8(1).raw(inputBin(7, 0x01F44165, 0, ""))), 0);
    EXPECT_EQ(t.bins[0].ulCapacity, 0x01F44165u);
    // Unnamed bins go by number with the reply's bin count.
    ASSERT_EQ(t.query(Bytes().u8(3).raw(inputBin(4, 250, 2, "")).raw(inputBin(4, 500, 81, "")).raw(inputBin(4, 250, 81, ""))),
              0);
    EXPECT_EQ(t.ids(), (std::vector<unsigned>{7107, 7104, 7106}));
    ASSERT_EQ(t.query(Bytes().u8(5).raw(inputBin(4, 250, 2, "")).zeros(4 * 32)), 0);   // four more unnamed bins
    EXPECT_EQ(t.bins[0].usBinId, 7104);
    // A named "Feeder 2" turns the bin before it into the first feeder.
    const std::pair<std::vector<std::string>, std::vector<unsigned>> cases[] = {
        {{"Feeder", "Feeder 2"}, {7108, 7109}},
        {{"Tray 1", "Feeder 2", "Tray 2"}, {7108, 7109, 7104}},
        {{"Feeder 2", "Tray 1"}, {7109, 7103}},
        {{"", "Feeder 2"}, {7108, 7109}},   // the unnamed bin 1 before it too
    };
    for (const auto& [names, ids] : cases) {
        Bytes reply = Bytes().u8(static_cast<unsigned>(names.size()));
        for (const std::string& name : names) reply.raw(inputBin(1, 100, 2, name));
        ASSERT_EQ(t.query(reply), 0);
        EXPECT_EQ(t.ids(), ids) << names[0] << ", " << names[1];
    }
}

TEST(Bins, TheQueriesCallOverriddenStepsAndAdjustOnlyTheNamedPath) {
    InputBins t;
    struct Custom : OpenPrtObj {
        using OpenPrtObj::OpenPrtObj;
        void parseInputBinsByName(int, const CString& name, unsigned short* id) override {
            if (name == "Big Tray") *id = 7109;
        }
        void parseInputBinsByID(int number, int, unsigned long, unsigned long, unsigned short* id) override {
            *id = static_cast<unsigned short>(number == 8 ? 7109 : 7000 + number);
        }
        void parseOutputBinsByName(const CString& name, unsigned short* id) override {
            *id = name == "Mailbox" ? 7300 : 7301;
        }
    } obj(t.rig.attached.handle, 0);
    obj.setBidi(1);
    ASSERT_EQ(t.query(Bytes().u8(4).raw(inputBin(1, 0, 0, "")).raw(inputBin(8, 0, 0, "")).raw(inputBin(3, 0, 0, "Tray 1"))
                          .raw(inputBin(4, 0, 0, "Big Tray")), obj), 0);
    // Only a named 7109 turns the bin before it into 7108.
    EXPECT_EQ(t.ids(), (std::vector<unsigned>{7001, 7109, 7108, 7109}));
    OutputBins out;
    Custom outObj(out.rig.attached.handle, 0);
    outObj.setBidi(1);
    ASSERT_EQ(out.query(Bytes().u8(2).raw(outputBin(1, 0, 0, 0, 0, "Mailbox")).raw(outputBin(2, 0, 0, 0, 0, "x")), outObj),
              0);
    EXPECT_EQ(out.ids(), (std::vector<unsigned>{7300, 7301}));
}

TEST(InputBinSteps, NamesAndBinNumbersGiveTheirIds) {
    Steps s;
    const struct {
        std::string name;
        int sizeCode;
        unsigned id;
    } names[] = {
        {"Manual Feed", 0, 7101}, {"Feeder", 79, 7107}, {"Feeder", 80, 7106}, {"Feeder", -1, 7107},
        {"tray 1", 0, 1234},      {"Tray 1 ", 0, 1234},  {"", 0, 1234},       {{"Tray 1\0\0", 8}, 0, 7103},   // a C text
    };
    for (const auto& c : names) {
        unsigned short id = 1234;
        s.parseInputBinsByName(c.sizeCode, c.name, &id);
        EXPECT_EQ(id, c.id) << c.name << " " << c.sizeCode;
    }
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

namespace kvrec {
static bool operator==(const INPUTCHARS& a, const INPUTCHARS& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace kvrec

TEST(InputCharsSteps, NamesAndBinNumbersWriteTheFieldsOfTheirSources) {
    Steps s;
    struct Case {
        const char* name;   // none: by bin number
        int number, sizeCode;
        unsigned long capacity, binCount;
        INPUTCHARS expected;
    } cases[] = {
        {"Manual Paper", 0, 5, 500, 0, {.ulManualPaperBin = 2, .ulManualPaperSize = 5, .ulManualPaperAttr = 7}},
        {"Tray 1", 0, 5, 500, 0, {.ulTray1Bin = 2, .ulTray1Size = 5, .ulTray1Attr = 7, .ulTray1Capacity = 500}},
        {"Tray 3", 0, 5, 500, 0, {.ulTray3Bin = 2, .ulTray3Size = 5, .ulTray3Attr = 7, .ulTray3Capacity = 500}},
        {"Feeder", 0, 80, 500, 0, {.ulFeederBinHigh = 2, .ulFeederSize = 80, .ulFeederAttr = 7}},
        {"Feeder", 0, 79, 500, 0, {.ulFeederBinLow = 2, .ulFeederSize = 79, .ulFeederAttr = 7}},
        {"Feeder 2", 0, 80, 500, 0, {.ulTwoFeeders = 1, .ulFeeder2BinHigh = 2, .ulFeeder2Size = 80, .ulFeeder2Attr = 7}},
        {"Feeder 2", 0, 79, 500, 0, {.ulTwoFeeders = 1, .ulFeeder2Size = 79, .ulFeeder2Attr = 7}},
        {"Manual Feed", 0, 5, 500, 0, {}},
        {"tray 1", 0, 5, 500, 0, {}},
        {nullptr, 1, 81, 250, 3, {.ulManualPaperBin = 1, .ulManualPaperSize = 81, .ulManualPaperAttr = 7}},
        {nullptr, 2, 81, 250, 3, {.ulManualEnvelopeBin = 2, .ulManualEnvelopeSize = 81, .ulManualEnvelopeAttr = 7}},
        {nullptr, 3, 81, 250, 3, {.ulTray1Bin = 3, .ulTray1Size = 81, .ulTray1Attr = 7, .ulTray1Capacity = 250}},
        {nullptr, 4, 81, 500, 3, {.ulTray2Bin = 4, .ulTray2Size = 81, .ulTray2Attr = 7, .ulTray2Capacity = 500}},
        {nullptr, 4, 81, 250, 5, {.ulTray2Bin = 4, .ulTray2Size = 81, .ulTray2Attr = 7, .ulTray2Capacity = 250}},
        {nullptr, 4, 81, 250, 4, {.ulFeederBinHigh = 4, .ulFeederSize = 81, .ulFeederAttr = 7}},
        {nullptr, 5, 81, 500, 9, {.ulFeederBinHigh = 5, .ulFeederSize = 81, .ulFeederAttr = 7}},
        {nullptr, 6, 81, 500, 9, {}},
    };
    for (const Case& c : cases) {
        INPUTCHARS chars;
        if (c.name)
            s.parseInputCharsByName(2, c.sizeCode, 7, c.capacity, c.name, &chars);
        else
            s.parseInputCharsByID(c.number, c.sizeCode, 7, c.capacity, c.binCount, &chars);
        EXPECT_EQ(chars, c.expected) << (c.name ? c.name : "") << c.number << " " << c.capacity << " of " << c.binCount;
    }
    // A second feeder moves the first into the Feeder 1 fields.
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

TEST(OutputBins, PropertyBitsAndTheIdsOfUnnamedBins) {
    OutputBins t;
    ASSERT_EQ(t.query(Bytes().u8(3)
                          .raw(outputBin(1, 0x21, 0x000001F4, 0xD5, 0x7A, "Standard Bin"))
                          .raw(outputBin(2, 1, 0x01F44164, 0x2A, 0x85, ""))
                          .raw(outputBin(4, 1, 9, 0x01, 0, std::string("\0ab", 3)))), 0);
    const OUTPUTBIN* b = t.bins;
    EXPECT_EQ(bits(b[0]), (std::vector<uint32_t>{1, 0, 1, 0, 1, 0, 0, 1, 0, 0}));
    EXPECT_EQ(bits(b[1]), (std::vector<uint32_t>{0, 1, 0, 1, 0, 1, 1, 0, 1, 1}));
    EXPECT_EQ(b[1].ulCapacity, 0x01F44164u);
    // A name beginning with a zero byte is no name, and the walk still steps over it.
    EXPECT_EQ(std::tuple(b[2].ulCapacity, b[2].strName, b[2].usBinId), std::tuple(9u, CString(), 7203));
    // Unnamed bins take the first property rule that holds.
    const struct {
        unsigned byte1, byte6, byte7, id;
    } cases[] = {
        {1, 0x21, 0x00, 7203}, {1, 0x20, 0x00, 7201}, {1, 0x01, 0x07, 7203}, {2, 0x21, 0x04, 7204},
        {0, 0x00, 0x01, 7204}, {0, 0x00, 0x02, 7204}, {2, 0x21, 0x00, 0},    {1, 0x1E, 0x78, 0},
        {0, 0x00, 0x80, 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(t.query(Bytes().u8(1).raw(outputBin(4, c.byte1, 0, c.byte6, c.byte7, ""))), 0);
        EXPECT_EQ(t.bins[0].usBinId, c.id) << c.byte1 << " " << std::hex << c.byte6 << " " << c.byte7;
    }
}

TEST(OutputBinSteps, NamesAreComparedExactly) {
    Steps s;
    const std::pair<std::string, unsigned> cases[] = {
        {"Bin15:Finisher", 7224}, {"Bin16:Finisher", 1234}, {"Bin0:Finisher", 1234},
        {"bin1:finisher", 1234},  {"Standard bin", 1234},   {"Bin1:Finisher ", 1234},
    };
    for (const auto& [name, id] : cases) {
        unsigned short got = 1234;
        s.parseOutputBinsByName(name, &got);
        EXPECT_EQ(got, id) << name;
    }
}

// An empty list is an allocated array; a short reply leaves the arguments untouched.
TEST(Bins, EmptyListsAndShortReplies) {
    auto check = [](auto& t, const Bytes& bin, std::initializer_list<size_t> cuts) {
        ASSERT_EQ(t.query(Bytes{0}), 0);
        EXPECT_EQ(t.count, 0u);
        EXPECT_NE(t.bins, nullptr);
        std::vector<ByteVec> replies{ByteVec{}, Bytes().u8(2).raw(bin).vec()};
        for (size_t cut : cuts) replies.push_back(Bytes().u8(1).raw(bin.first(cut)).vec());
        for (const ByteVec& r : replies) {
            t.count = 99;
            EXPECT_EQ(t.query(r), -2) << toHex(r);
            EXPECT_EQ(t.count, 99u);
            EXPECT_EQ(t.bins, nullptr);
        }
    };
    InputBins in;
    const Bytes b = inputBin(3, 250, 2, "Tray 1", "xy");   // 30 fixed bytes, name at 31, M at 37
    check(in, b, {20, 33, 37, b.size() - 1});
    OutputBins out;
    const Bytes bin = outputBin(1, 0, 0, 0, 0, "Standard Bin");
    check(out, bin, {8, bin.size() - 1});
}
