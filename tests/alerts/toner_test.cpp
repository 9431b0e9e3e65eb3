#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "golden.h"
#include "kvprtobj/toner.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

using TonerInfoArray = KvTonerPrediction::TonerInfoArray;

// A format-1 record of supply `id`: 1200 pages of a base of 1000, level 3 of 6, steps of 50.
Bytes supply(uint8_t id) {
    return Bytes().u8(id).raw(hex("A0A0A0A0 000004B0 000003E8 B0B0B0B0 06 03 C0 00 D0D0D0D0 03E8 01F4 003C 0028 0032"));
}

// Toner data: a counted leading field, the count, an unread byte, the common byte, the format, the records.
Bytes tonerData(unsigned count, unsigned format, const Bytes& records) {
    return Bytes().counted("lead").u8(count).u8(0).u8(0x4C).u8(format).raw(records);
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

// The result of a query answered with the toner data `input` (hex), then two lines per supply: the fields
// as the reply has them, in hex; the step, adjustments and spares (hex), the estimates and gauges (decimal).
std::string decoded(const std::string& input) {
    Toner t;
    t.serve(Bytes(hex(input)));
    std::string out = std::to_string(t.prediction.bidiQueryTonerInfo(t.info));
    for (unsigned i = 0; i < t.info.numSupplies(); ++i) {
        const auto& s = t[i];
        char text[320];
        std::snprintf(text, sizeof text,
                      "\n  id=%02X attribute=%02X A=%08X pages=%08X basePages=%08X B=%08X levelCount=%02X level=%02X"
                      " C=%02X D=%08X\n    step=%08X adjustHigh/Low=%08X/%08X stepHigh/Low=%08X/%08X"
                      " spare1/2=%08X/%08X estimate1/2=%d/%d gauge1/2=%u/%u",
                      s.bySupplyId, s.byAttribute, s.ulValueA, s.ulPageCount, s.ulBasePageCount, s.ulValueB,
                      s.byLevelCount, s.byLevel, s.byValueC, s.ulValueD, s.ulStep, s.ulAdjustHigh, s.ulAdjustLow,
                      s.ulStepHigh, s.ulStepLow, s.ulSpare1, s.ulSpare2, s.lEstimate, s.lEstimate2, s.byGauge1,
                      s.byGauge2);
        out += text;
    }
    return out;
}

}  // namespace

TEST(Toner, SuppliesOfEachFormatWithTheirEstimatesAndGauges) {
    expectGolden(KVPO_ALERTS_DIR "/toner.golden", decoded);
}

TEST(Toner, QueryStepsOverFormatOneRecordsAndArraysCopyDeeply) {
    Toner t;
    ASSERT_EQ(t.query(tonerData(2, 1, supply(7).raw(supply(8)))), 0);
    auto sent = t.rig.printer.lastRequest();
    EXPECT_EQ(std::tuple(sent.data, sent.capacity), std::tuple(hex("00"), 256ul));
    TonerInfoArray copy(t.info), assigned;
    assigned = t.info;
    t[0].bySupplyId = 9;
    assigned = assigned;
    for (auto* a : {&copy, &assigned}) {
        ASSERT_EQ(a->numSupplies(), 2u);
        EXPECT_EQ(std::tuple((*a)[0]->bySupplyId, (*a)[1]->bySupplyId), std::tuple(7, 8));
    }
}

TEST(Toner, EmptyForeignAndShortReplies) {
    Toner t;
    ASSERT_EQ(t.query(tonerData(1, 1, supply(1))), 0);
    EXPECT_EQ(t.query(tonerData(0, 1, {})), 0);
    EXPECT_EQ(t.info.numSupplies(), 0u);

    ASSERT_EQ(t.query(tonerData(1, 1, supply(5))), 0);
    t.serve(Bytes().u8(0x03).raw(tonerData(0, 1, {})));
    EXPECT_EQ(t.prediction.bidiQueryTonerInfo(t.info), 0);
    const Bytes full = tonerData(2, 1, supply(1).raw(supply(1)));
    for (size_t cut = 0; cut < full.size(); ++cut) EXPECT_EQ(t.query(full.first(cut)), -2) << cut;
    ASSERT_EQ(t.info.numSupplies(), 1u);   // untouched throughout
    EXPECT_EQ(t[0].bySupplyId, 5);
}

TEST(Toner, AlertData) {
    Toner t;
    t.rig.printer.setAlert(3, Bytes().raw({0x03, 0x80, 0x01}).raw(tonerData(1, 1, supply(4))));
    ASSERT_EQ(t.prediction.GetTonerAlertData(3, t.info), 0);
    EXPECT_EQ(t[0].bySupplyId, 4);
    EXPECT_EQ(t.rig.printer.alertFlags().back(), 2);

    t.rig.printer.setAlert(3, Bytes().raw({0x03, 0x80, 0x02}).raw(tonerData(1, 1, supply(6))));
    EXPECT_EQ(t.prediction.GetTonerAlertData(3, t.info), 0);
    EXPECT_EQ(t[0].bySupplyId, 4);
}

TEST(Toner, ResetWithoutSuppliesSetsNothing) {
    Toner none;
    none.rig.printer.answer(0x9A, Bytes().raw({0x02}).raw(tonerData(0, 1, {})));
    EXPECT_EQ(none.prediction.bidiResetPageCount(), -2);
    EXPECT_EQ(none.rig.printer.lastRequest().code, 0x9A);
}
