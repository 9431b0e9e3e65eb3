// Input and output bins: the records of a reply, the ids and characteristics the steps give.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "golden.h"
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
    using KVPrtObj::parseInputBinsByID, KVPrtObj::parseInputBinsByName, KVPrtObj::parseInputCharsByID,
        KVPrtObj::parseInputCharsByName, KVPrtObj::parseOutputBinsByName;
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

namespace {

constexpr const char* kCharsFields =
    "ManualPaperBin ManualEnvelopeBin FeederBinHigh FeederBinLow TwoFeeders Feeder1BinHigh Feeder2BinHigh Tray1Bin "
    "Tray2Bin Tray3Bin FeederSize Feeder1Size Feeder2Size ManualEnvelopeSize Tray1Size Tray2Size Tray3Size "
    "ManualPaperSize Tray1Attr Tray2Attr Tray3Attr ManualPaperAttr ManualEnvelopeAttr FeederAttr Feeder1Attr "
    "Feeder2Attr Tray1Capacity Tray2Capacity Tray3Capacity";

// The fields of `chars` that are not 0, by name.
std::string fields(const INPUTCHARS& chars) {
    uint32_t words[sizeof chars / 4];
    std::memcpy(words, &chars, sizeof words);
    std::istringstream names(kCharsFields);
    std::string out, name;
    for (uint32_t w : words)
        if (names >> name && w) out += " " + name + "=" + std::to_string(w);
    return out.empty() ? "-" : out.substr(1);
}

// What a naming step gives: "name 'N' size", "number n size capacity bins",
// "chars 'N' size capacity" (bin 2), "chars n size capacity bins" (attribute
// 7 both), "output 'N'".
std::string stepped(const std::string& input) {
    Steps s;
    const size_t open = input.find('\''), close = input.rfind('\'');
    const bool named = open != input.npos;
    const CString name = named ? withZeros(input.substr(open + 1, close - open - 1)) : CString();
    std::istringstream args(named ? input.substr(close + 1) : input.substr(input.find(' ')));
    long a = 0, b = 0, c = 0, d = 0;
    args >> a >> b >> c >> d;
    unsigned short id = 1234;
    INPUTCHARS chars;
    if (input.starts_with("chars") && named) s.parseInputCharsByName(2, a, 7, b, name, &chars);
    if (input.starts_with("chars") && !named) s.parseInputCharsByID(a, b, 7, c, d, &chars);
    if (input.starts_with("chars")) return fields(chars);
    if (input.starts_with("name")) s.parseInputBinsByName(a, name, &id);
    if (input.starts_with("number")) s.parseInputBinsByID(a, b, c, d, &id);
    if (input.starts_with("output")) s.parseOutputBinsByName(name, &id);
    return std::to_string(id);
}

}  // namespace

TEST(BinSteps, NamesAndBinNumbersGiveTheirIdsAndCharacteristics) {
    expectGolden(KVPO_DEVCHARS_DIR "/bin_steps.golden", stepped);
}

// A second feeder moves the first into the Feeder 1 fields; after a "Feeder 2"
// a "Feeder" keeps the single-feeder fields. A null target is ignored.
TEST(InputCharsSteps, ASecondFeederMovesTheFirst) {
    Steps s;
    INPUTCHARS chars, reversed;
    s.parseInputCharsByName(5, 90, 3, 0, "Feeder", &chars);
    s.parseInputCharsByName(6, 85, 4, 0, "Feeder 2", &chars);
    s.parseInputCharsByName(6, 85, 4, 0, "Feeder 2", &reversed);
    s.parseInputCharsByName(5, 20, 3, 0, "Feeder", &reversed);
    EXPECT_EQ(fields(chars), "TwoFeeders=1 Feeder1BinHigh=5 Feeder2BinHigh=6 FeederSize=90 Feeder1Size=90 "
                             "Feeder2Size=85 FeederAttr=3 Feeder1Attr=3 Feeder2Attr=4");
    EXPECT_EQ(fields(reversed),
              "FeederBinLow=5 TwoFeeders=1 Feeder2BinHigh=6 FeederSize=20 Feeder2Size=85 FeederAttr=3 Feeder2Attr=4");
    s.parseInputBinsByName(0, "Tray 1", nullptr);
    s.parseInputBinsByID(1, 0, 0, 0, nullptr);
    s.parseInputCharsByName(1, 0, 0, 0, "Tray 1", nullptr);
    s.parseInputCharsByID(1, 0, 0, 0, 0, nullptr);
    s.parseOutputBinsByName("Standard Bin", nullptr);
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
    Bytes smallest = Bytes().u8(40);   // records of the smallest size: the array holds them all
    for (unsigned i = 0; i < 40; ++i) smallest.raw(outputBin(i, 0xFF, 0xFFFFFFFF, 0xFF, 0xFF, ""));
    ASSERT_EQ(t.query(smallest), 0);
    EXPECT_EQ(std::tuple(t.count, t.bins[39].usBinNumber, t.bins[39].usBinId), std::tuple(40u, 39, 7204));
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
