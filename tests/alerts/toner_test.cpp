#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "kvprtobj/toner.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

using TonerInfoArray = KvTonerPrediction::TonerInfoArray;

struct Supply {
    uint8_t id = 1;
    uint32_t pageCount = 1200, basePageCount = 1000;
    uint8_t levelCount = 6, level = 3;
    std::string counted;
    uint16_t adjustHigh = 1000, adjustLow = 500, stepHigh = 60, stepLow = 40, step = 50;
};

Bytes format1(const Supply& s) {
    return Bytes()
        .u8(s.id).be32(0xA0A0A0A0).be32(s.pageCount).be32(s.basePageCount).be32(0xB0B0B0B0)
        .u8(s.levelCount).u8(s.level).u8(0xC0).counted(s.counted).be32(0xD0D0D0D0)
        .be16(s.adjustHigh).be16(s.adjustLow).be16(s.stepHigh).be16(s.stepLow).be16(s.step);
}

// Toner data: a counted leading field, the count, an unread byte, the common byte, the format, the records.
Bytes tonerData(unsigned count, unsigned format, const Bytes& records) {
    return Bytes().counted("lead").u8(count).u8(0).u8(0x4C).u8(format).raw(records);
}

Bytes tonerData(const std::vector<Supply>& supplies) {
    Bytes records;
    for (const auto& s : supplies) records.raw(format1(s));
    return tonerData(static_cast<unsigned>(supplies.size()), 1, records);
}

struct Toner {
    PrinterRig rig;
    KvTonerPrediction prediction{&rig.obj};
    TonerInfoArray info;

    void serve(const Bytes& replyBytes) {
        rig.printer.setHandler([r = replyBytes.vec()](const SentRequest&) { return reply(r); });
    }
    long query(const Bytes& data) {
        serve(Bytes().u8(0x02).raw(data));
        return prediction.bidiQueryTonerInfo(info);
    }
    KvTonerPrediction::TonerInfo& operator[](unsigned i) { return *info[i]; }
};

}  // namespace

TEST(Toner, QueryStepsOverFormatOneRecordsAndArraysCopyDeeply) {
    Toner t;
    ASSERT_EQ(t.query(tonerData({Supply{.id = 7, .counted = "abc"}, Supply{.id = 8}})), 0);
    auto sent = t.rig.printer.lastRequest();
    EXPECT_EQ(std::tuple(sent.data, sent.capacity), std::tuple(hex("00"), 256ul));
    ASSERT_EQ(t.info.numSupplies(), 2u);
    EXPECT_EQ(t[1].bySupplyId, 8);   // the counted field's length is stepped over

    TonerInfoArray copy(t.info), assigned;
    assigned = t.info;
    t[0].bySupplyId = 9;
    assigned = assigned;
    for (auto* a : {&copy, &assigned}) {
        ASSERT_EQ(a->numSupplies(), 2u);
        EXPECT_EQ(std::tuple((*a)[0]->bySupplyId, (*a)[1]->bySupplyId), std::tuple(7, 8));
    }
}

TEST(Toner, EstimatesAndGauges) {
    auto g = [](uint8_t levelCount, uint8_t level) { return Supply{.levelCount = levelCount, .level = level, .step = 0}; };
    const struct {
        Supply s;
        int32_t estimate;
        uint8_t gauge = 60;   // level 3 of 6
    } cases[] = {
        {Supply{.step = 70}, 3 * 70 - 200 + 1000},
        {Supply{.step = 40}, 3 * 40 - 200 + 500},
        {Supply{.pageCount = 90000}, 0},                       // below zero
        {Supply{.adjustHigh = 500, .adjustLow = 600}, 0},      // unsigned adjustment difference
        {Supply{.basePageCount = 1300}, 3 * 50 + 100 + 750},   // used pages wrap
        {g(6, 5), -1, 94}, {g(6, 4), -1, 80}, {g(6, 0), -1, 0}, {g(6, 0x82), -1, 40},
        {g(2, 1), -1, 94}, {g(2, 3), -1, 0},  {g(1, 0), -1, 94}, {g(0, 0), -1, 0},
    };
    for (const auto& c : cases) {
        Toner t;
        ASSERT_EQ(t.query(tonerData({c.s})), 0);
        EXPECT_EQ(std::tuple(t[0].lEstimate, t[0].byGauge1, t[0].byGauge2), std::tuple(c.estimate, c.gauge, c.gauge))
            << c.s.step << " " << c.s.pageCount << " " << int(c.s.levelCount) << " " << int(c.s.level);
        EXPECT_EQ(t[0].lEstimate2, -1);   // never estimated
    }
}

TEST(Toner, FormatTwoHasNoPredictionsOtherFormatsOnlyACount) {
    Toner t;
    ASSERT_EQ(t.query(tonerData(1, 2, Bytes().raw({9, 0x33}).be32(6).be32(0x103).be32(0xD2))), 0);
    EXPECT_EQ(std::tuple(t[0].bySupplyId, t[0].lEstimate, t[0].byGauge1), std::tuple(9, 0, 0));
    ASSERT_EQ(t.query(tonerData(2, 3, {})), 0);
    ASSERT_EQ(t.info.numSupplies(), 2u);
    EXPECT_EQ(t[1].bySupplyId, 0);
}

TEST(Toner, EmptyForeignAndShortReplies) {
    Toner t;
    ASSERT_EQ(t.query(tonerData({Supply{}})), 0);
    EXPECT_EQ(t.query(tonerData(0, 1, {})), 0);
    EXPECT_EQ(t.info.numSupplies(), 0u);

    ASSERT_EQ(t.query(tonerData({Supply{.id = 5}})), 0);
    t.serve(Bytes().u8(0x03).raw(tonerData(0, 1, {})));
    EXPECT_EQ(t.prediction.bidiQueryTonerInfo(t.info), 0);
    const Bytes full = tonerData({Supply{}, Supply{}});
    for (size_t cut = 0; cut < full.size(); ++cut) EXPECT_EQ(t.query(full.first(cut)), -2) << cut;
    ASSERT_EQ(t.info.numSupplies(), 1u);   // untouched throughout
    EXPECT_EQ(t[0].bySupplyId, 5);
}

TEST(Toner, AlertData) {
    Toner t;
    const Bytes data = tonerData({Supply{.id = 4}});
    t.rig.printer.setAlert(3, Bytes().raw({0x03, 0x80, 0x01}).raw(data));
    ASSERT_EQ(t.prediction.GetTonerAlertData(3, t.info), 0);
    EXPECT_EQ(t[0].bySupplyId, 4);
    EXPECT_EQ(t.rig.printer.alertFlags().back(), 2);

    t.rig.printer.setAlert(3, Bytes().raw({0x03, 0x80, 0x02}).raw(tonerData({Supply{.id = 6}})));
    EXPECT_EQ(t.prediction.GetTonerAlertData(3, t.info), 0);
    EXPECT_EQ(t[0].bySupplyId, 4);
}

TEST(Toner, ResetWithoutSuppliesSetsNothing) {
    Toner none;
    none.rig.printer.answer(0x9A, Bytes().raw({0x02}).raw(tonerData(0, 1, {})));
    EXPECT_EQ(none.prediction.bidiResetPageCount(), -2);
    EXPECT_EQ(none.rig.printer.lastRequest().code, 0x9A);
}

