#include <gtest/gtest.h>

#include "alert_list.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

struct Decoder : OpenPrtObj {
    using KVPrtObj::parseAlertData;

    Alerts decode(const ByteVec& run, unsigned records, unsigned kind) {
        KVPALERTDATA* list = nullptr;
        unsigned count = 0;
        ByteVec copy = run;
        EXPECT_EQ(parseAlertData(copy.data(), records, kind, &list, &count), 0);
        return takeList(list, count);
    }
};

// One record: category, instance, condition (as one key) and the fourth byte.
struct Row {
    unsigned kind;
    uint32_t key;
    Alerts expected;
    uint8_t fourth = 0;
};

const Row kRows[] = {
    // kind 3, paper jams: exact keys
    {3, 0x010101, {{6242}}}, {3, 0x010201, {{6243}}}, {3, 0x010301, {{6244}}}, {3, 0x010401, {{6245}}},
    {3, 0x010501, {{6246}}}, {3, 0x01FF01, {{6104}}}, {3, 0x01FFFF, {{6104}}}, {3, 0x01FF02, {{6190}}},
    {3, 0x0201FF, {{6247}}}, {3, 0x0202FF, {{6248}}}, {3, 0x0203FF, {{6249}}}, {3, 0x02FFFF, {{6106}}},
    {3, 0x030101, {{6182}}}, {3, 0x030102, {{6105}}}, {3, 0x0301FF, {{6105}}}, {3, 0x03FFFF, {{6105}}},
    {3, 0x04FFFF, {{6107}}}, {3, 0x070201, {{6236}}}, {3, 0x070202, {{6237}}}, {3, 0x070203, {{6238}}},
    {3, 0x070204, {{6239}}}, {3, 0x080101, {{6183}}}, {3, 0x080102, {{6184}}}, {3, 0x080103, {{6188}}},
    // ... and the default
    {3, 0x010601, {{6108}}}, {3, 0x050101, {{6108}}}, {3, 0x080104, {{6108}}}, {3, 0x0302FF, {{6108}}},

    // kind 4, operator intervention: exact keys
    {4, 0x0101FF, {{6137}}}, {4, 0x0102FF, {{6133}}}, {4, 0x0103FF, {{6127}}}, {4, 0x0104FF, {{6121}}},
    {4, 0x0105FF, {{6122}}}, {4, 0x0107FF, {{6164}}}, {4, 0x0108FF, {{6231}}}, {4, 0x010501, {{6228}}},
    {4, 0x030101, {{6102}}}, {4, 0x03FF01, {{6102}}}, {4, 0x030107, {{6254}}}, {4, 0x03010A, {{6255}}},
    {4, 0x0301FF, {{6134}}}, {4, 0x0302FF, {{6124}}}, {4, 0x0303FF, {{6130}}}, {4, 0x0304FF, {{6120}}},
    {4, 0x0305FF, {{6131}}}, {4, 0x0306FF, {{6119}}}, {4, 0x0307FF, {{6129}}}, {4, 0x0308FF, {{6139}}},
    {4, 0x0309FF, {{6136}}}, {4, 0x030AFF, {{6126}}}, {4, 0x030BFF, {{6138}}}, {4, 0x030CFF, {{6125}}},
    {4, 0x030DFF, {{6132}}}, {4, 0x030EFF, {{6135}}}, {4, 0x0316FF, {{6135}}}, {4, 0x0319FF, {{6135}}},
    {4, 0x030FFF, {{6219}}}, {4, 0x0310FF, {{6175}}}, {4, 0x0311FF, {{6176}}}, {4, 0x0312FF, {{6177}}},
    {4, 0x0313FF, {{6178}}}, {4, 0x0314FF, {{6232}}}, {4, 0x0315FF, {{6257}}}, {4, 0x0318FF, {{6256}}},
    {4, 0x0401FF, {{6123}}}, {4, 0x0402FF, {{6128}}}, {4, 0x04FF01, {{6103}}}, {4, 0x04FF02, {{6171}}},
    {4, 0x04FF03, {{6172}}}, {4, 0x04FF04, {{6173}}}, {4, 0x04FF07, {{6250}}}, {4, 0x070201, {{6229}}},
    {4, 0x0702FF, {{6230}}}, {4, 0x0801FF, {{6174}}}, {4, 0x0802FF, {{6251}}}, {4, 0x0804FF, {{6166}}},
    {4, 0x0805FF, {{6167}}}, {4, 0x0806FF, {{6168}}}, {4, 0x0807FF, {{6169}}}, {4, 0x0901FF, {{6141}}},
    {4, 0x0902FF, {{6140}}},
    // ... rules (value = instance) and the default
    {4, 0x010601, {{6240, 6}}}, {4, 0x010308, {{6252, 3}}}, {4, 0x020401, {{6241, 4}}}, {4, 0x02070B, {{6114, 7}}},
    {4, 0x0317FF, {{6118}}}, {4, 0x0106FF, {{6118}}}, {4, 0x050505, {{6118}}}, {4, 0x0803FF, {{6118}}},

    // kind 5, warnings: exact keys
    {5, 0x0316FF, {{6135}}}, {5, 0x080101, {{6223, 1}}}, {5, 0x080202, {{6223, 2}}}, {5, 0x080301, {{6223, 3}}},
    {5, 0x080402, {{6223, 4}}}, {5, 0x08FF01, {{6223, 0xFF}}}, {5, 0x080506, {{6223, 5}}}, {5, 0x080606, {{6168}}},
    {5, 0x0801FF, {{6226}}},
    // ... rules, the records they drop, and the default
    {5, 0x010203, {{6203, 2}}}, {5, 0x01090B, {{6253, 9}}}, {5, 0x010204, {}}, {5, 0x0201FF, {}},
    {5, 0x020304, {{6204, 3}}}, {5, 0x020305, {}}, {5, 0x0704FF, {{6233, 4}}}, {5, 0x070401, {{6208}}},
    {5, 0x050101, {{6208}}}, {5, 0x030EFF, {{6208}}}, {5, 0x08FF02, {{6208}}}, {5, 0x080706, {{6208}}},

    // kind 6, service required
    {6, 0x03FF01, {{6115}}}, {6, 0x03FF02, {{6115}}}, {6, 0x03FF03, {}}, {6, 0x030101, {}}, {6, 0x01FF01, {}},

    // kind 7, configuration change: exact keys win over the category-01 rules
    {7, 0x03FF05, {{6194}}}, {7, 0x03FF06, {{6195}}}, {7, 0x03FF07, {{6196}}}, {7, 0x03FF08, {{6197}}},
    {7, 0x01FF09, {{6198}}}, {7, 0x01FF0A, {{6199}}}, {7, 0x04FF0A, {{6200}}}, {7, 0x09FF01, {{6191}}},
    {7, 0x09FF02, {{6192}}},
    {7, 0x010304, {{6193, 3}}}, {7, 0x01FF04, {{6193, 0xFF}}}, {7, 0x0102FF, {{6202, 2}}}, {7, 0x010305, {}},
    {7, 0x020101, {{6201}}}, {7, 0x03FF09, {{6201}}}, {7, 0x04FF0B, {{6201}}},

    // kind 8, supplies (value = instance)
    {8, 0x080101, {{6221, 1}}}, {8, 0x080402, {{6221, 4}}}, {8, 0x08FF01, {{6223, 0xFF}}},
    {8, 0x0803FF, {{6227, 3}}}, {8, 0x080904, {{6222, 9}}}, {8, 0x080905, {{6221, 9}}}, {8, 0x080105, {{6221, 1}}},
    {8, 0x080206, {{6220, 2}}}, {8, 0x070505, {{6235, 5}}}, {8, 0x0701FF, {{6234, 1}}},
    {8, 0x08FFFF, {}}, {8, 0x08FF02, {}}, {8, 0x080501, {}}, {8, 0x050101, {}}, {8, 0x070101, {}},

    // kind 9, supplies status: every record, value instance x 256 + fourth byte
    {9, 0x080305, {{6224, 0x0307}}, 0x07}, {9, 0x00FF00, {{6224, 0xFFFF}}, 0xFF},

    // kinds without a table
    {2, 0x03FF01, {}}, {10, 0x03FF01, {}}, {0, 0x010101, {}},
};

}  // namespace

TEST(AlertRecords, EveryTableRowRuleAndDefault) {
    Decoder d;
    for (const Row& row : kRows) {
        ByteVec record = Bytes().u8(row.key >> 16).u8(row.key >> 8).u8(row.key).u8(row.fourth);
        SCOPED_TRACE(testing::Message() << "kind " << row.kind << " record " << toHex(record));
        EXPECT_EQ(d.decode(record, 1, row.kind), row.expected);
    }
}

TEST(AlertRecords, RunsStepOverExtraDataExceptInSuppliesStatus) {
    Decoder d;
    // The two bytes after 01 FF 01 02 are extra data, not a record.
    EXPECT_EQ(d.decode(hex("01 FF 01 02 04 FF  04 FF FF 00"), 2, 3), (Alerts{{6104}, {6107}}));
    // Supplies-status records are four bytes whatever the fourth byte holds.
    EXPECT_EQ(d.decode(hex("08 03 05 07  08 04 06 FF"), 2, 9), (Alerts{{6224, 0x0307}, {6224, 0x04FF}}));
    // Records that give nothing still advance the walk.
    EXPECT_EQ(d.decode(hex("03 FF 03 01 AA  03 FF 01 00"), 2, 6), (Alerts{{6115}}));
}

TEST(AlertRecords, AppendsToTheCallersListAndLeavesItAloneForNoRecords) {
    Decoder d;
    auto* list = static_cast<KVPrtObj::KVPALERTDATA*>(::operator new(sizeof(KVPrtObj::KVPALERTDATA)));
    list[0] = {6999, 7};
    unsigned count = 1;
    ByteVec run = hex("04 FF FF 00  02 FF FF 00");
    EXPECT_EQ(d.parseAlertData(run.data(), 0, 3, &list, &count), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list[0].usAlertId, 6999);
    EXPECT_EQ(d.parseAlertData(run.data(), 2, 3, &list, &count), 0);
    EXPECT_EQ(takeList(list, count), (Alerts{{6999, 7}, {6107}, {6106}}));
}
