#include <gtest/gtest.h>

#include <sstream>

#include "alert_list.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

struct Decoder : OpenPrtObj {
    using KVPrtObj::parseAlertData;
    Alerts decode(ByteVec run, unsigned records, unsigned kind) {
        KVPALERTDATA* list = nullptr;
        unsigned count = 0;
        EXPECT_EQ(parseAlertData(run.data(), records, kind, &list, &count), 0);
        return takeList(list, count);
    }
};

// Records of one kind and what each gives: "010601=6240/6" is the record
// 01 06 01 00 giving alert 6240 with value 6; "=-" gives nothing; eight hex
// digits give the fourth byte too.
struct KindCases {
    unsigned kind;
    const char* cases;
};

const KindCases kTables[] = {
    // paper jams: first and last id of each key row, both conditions of a shared id, then the default
    {3, "010101=6242 010501=6246 01FF01=6104 01FFFF=6104 01FF02=6190 0201FF=6247 0203FF=6249 02FFFF=6106"},
    {3, "030101=6182 030102=6105 03FFFF=6105 04FFFF=6107 070204=6239 080103=6188 010601=6108 0302FF=6108"},
    // operator intervention: exact keys, rules (value = instance), the default
    {4, "0101FF=6137 0108FF=6231 010501=6228 03FF01=6102 030107=6254 03010A=6255 0301FF=6134 030DFF=6132"},
    {4, "0319FF=6135 030FFF=6219 0318FF=6256 0402FF=6128 04FF07=6250 070201=6229 0702FF=6230 0807FF=6169"},
    {4, "0902FF=6140 010601=6240/6 010308=6252/3 020401=6241/4 02070B=6114/7 0317FF=6118 0803FF=6118"},
    // warnings
    {5, "0316FF=6135 080402=6223/4 08FF01=6223/255 080506=6223/5 080606=6168 0801FF=6226 010203=6203/2"},
    {5, "01090B=6253/9 010204=- 0201FF=- 020304=6204/3 0704FF=6233/4 070401=6208 08FF02=6208 080706=6208"},
    // service required
    {6, "03FF01=6115 03FF02=6115 03FF03=- 030101=-"},
    // configuration change
    {7, "03FF05=6194 03FF08=6197 01FF0A=6199 04FF0A=6200 09FF02=6192 010304=6193/3 0102FF=6202/2 010305=-"},
    {7, "020101=6201 03FF09=6201"},
    // supplies (value = instance)
    {8, "080101=6221/1 080402=6221/4 08FF01=6223/255 0803FF=6227/3 080904=6222/9 080905=6221/9"},
    {8, "080206=6220/2 070505=6235/5 0701FF=6234/1 08FFFF=- 08FF02=- 070101=-"},
    // supplies status: value instance x 256 + fourth byte; kinds without a table
    {9, "08030507=6224/0x0307 00FF00FF=6224/0xFFFF"}, {2, "03FF01=-"}, {10, "03FF01=-"},
};

}  // namespace

TEST(AlertRecords, EveryTableRowRuleAndDefault) {
    Decoder d;
    for (const KindCases& table : kTables) {
        std::istringstream cases(table.cases);
        for (std::string c; cases >> c;) {
            SCOPED_TRACE(testing::Message() << "kind " << table.kind << " " << c);
            auto eq = c.find('='), slash = c.find('/');
            uint32_t record = std::stoul(c.substr(0, eq), nullptr, 16) << (eq == 6 ? 8 : 0);
            Alerts expected;
            unsigned long value = slash == c.npos ? 0 : std::stoul(c.substr(slash + 1), nullptr, 0);
            if (c[eq + 1] != '-')
                expected.push_back({static_cast<uint16_t>(std::stoul(c.substr(eq + 1))), static_cast<uint16_t>(value)});
            EXPECT_EQ(d.decode(Bytes().be32(record), 1, table.kind), expected);
        }
    }
}

TEST(AlertRecords, RunsAndLists) {
    Decoder d;
    // extra data is stepped over, not read as records
    EXPECT_EQ(d.decode(hex("01 FF 01 02 04 FF  03 FF 03 01 AA  04 FF FF 00"), 3, 3), (Alerts{{6104}, {6108}, {6107}}));
    // supplies-status records are four bytes whatever the fourth byte holds
    EXPECT_EQ(d.decode(hex("08 03 05 07  08 04 06 FF"), 2, 9), (Alerts{{6224, 0x0307}, {6224, 0x04FF}}));
    // entries are appended to the caller's list; no records leave it alone
    auto* list = static_cast<KVPrtObj::KVPALERTDATA*>(::operator new(sizeof(KVPrtObj::KVPALERTDATA)));
    list[0] = {6999, 7};
    unsigned count = 1;
    ByteVec run = hex("04 FF FF 00  02 FF FF 00");
    EXPECT_TRUE(d.parseAlertData(run.data(), 0, 3, &list, &count) == 0 && count == 1u);
    EXPECT_EQ(d.parseAlertData(run.data(), 2, 3, &list, &count), 0);
    EXPECT_EQ(takeList(list, count), (Alerts{{6999, 7}, {6107}, {6106}}));
}
