#include <gtest/gtest.h>

#include "alert_list.h"
#include "scripted_printer.h"

using namespace kvtest;
using PRTALERTS = KVPrtObj::PRTALERTS;
using UIRALERTS = KVPrtObj::UIRALERTS;
using KVPALERTDATA = KVPrtObj::KVPALERTDATA;

namespace {

using ListForm = long (KVPrtObj::*)(unsigned int*, KVPALERTDATA**);

using SummaryForm = long (*)(KVPrtObj&, PRTALERTS*, UIRALERTS*);
template <long (KVPrtObj::*F)(PRTALERTS*)>
long summary(KVPrtObj& p, PRTALERTS* alerts, UIRALERTS*) { return (p.*F)(alerts); }
long interventions(KVPrtObj& p, PRTALERTS* alerts, UIRALERTS* uir) { return p.bidiQueryOperatorIV(alerts, uir); }

// The families by request code.
struct Family {
    unsigned short code;
    ListForm list;
    SummaryForm summary;
    ByteVec data;
};
const Family kFamilies[] = {
    {2, &KVPrtObj::bidiQueryInputStatus, summary<&KVPrtObj::bidiQueryInputStatus>, {0}},
    {3, &KVPrtObj::bidiQueryOutputStatus, summary<&KVPrtObj::bidiQueryOutputStatus>, {0}},
    {6, &KVPrtObj::bidiQueryPaperJams, summary<&KVPrtObj::bidiQueryPaperJams>, {}},
    {7, &KVPrtObj::bidiQueryOperatorIV, interventions, {}},
    {8, &KVPrtObj::bidiQueryWarnings, summary<&KVPrtObj::bidiQueryWarnings>, {}},
    {9, &KVPrtObj::bidiQueryServiceReq, summary<&KVPrtObj::bidiQueryServiceReq>, {}},
    {10, &KVPrtObj::bidiQueryConfigChg, summary<&KVPrtObj::bidiQueryConfigChg>, {}},
    {11, &KVPrtObj::bidiQuerySupplies, summary<&KVPrtObj::bidiQuerySupplies>, {}},
    {13, &KVPrtObj::bidiQuerySuppliesStatus, nullptr, {0}},
};
const Family& family(unsigned short code) {
    return *std::find_if(std::begin(kFamilies), std::end(kFamilies), [&](const Family& f) { return f.code == code; });
}

Alerts list(KVPrtObj& p, unsigned short code, long expectedRc = 0) {
    unsigned count = 99;
    KVPALERTDATA* alerts = reinterpret_cast<KVPALERTDATA*>(0x1);
    EXPECT_EQ((p.*family(code).list)(&count, &alerts), expectedRc);
    EXPECT_TRUE(count != 0 || alerts == nullptr);
    return takeList(alerts, count);
}

// The list a family makes of a reply (as the operation sees it).
Alerts listOf(unsigned short code, const ByteVec& afterStrip) {
    PrinterRig rig;
    rig.printer.answer(code, reply(afterStrip));
    Alerts alerts = list(rig.obj, code);
    EXPECT_EQ(rig.printer.lastRequest().code, code);
    EXPECT_EQ(rig.printer.lastRequest().data, family(code).data);
    return alerts;
}

constexpr uint32_t kUntouched = 0x5A5A5A5A;

// The summary word a family makes of a reply from a client word `before`; `uir` gets the UIRALERTS word.
uint32_t summaryOf(unsigned short code, const ByteVec& afterStrip, uint32_t before = 0, uint32_t* uir = nullptr) {
    PrinterRig rig;
    rig.printer.answer(code, reply(afterStrip));
    auto alerts = withWord<PRTALERTS>(before);
    auto interventions = withWord<UIRALERTS>(kUntouched);
    EXPECT_EQ(family(code).summary(rig.obj, &alerts, &interventions), 0);
    if (uir) *uir = word(interventions);
    return word(alerts);
}

}  // namespace

TEST(AlertLists, TruncatedRunsKeepTheWholeRecordsOnly) {
    const std::tuple<unsigned short, const char*, Alerts> cases[] = {
        // configuration change: a reply shorter than its count and first extra length promise is one alert
        {10, "02 01 FF 09 00", {{6201}}}, {10, "01 01 FF 09 03 AA BB", {{6201}}},
        {10, "01 01 FF 09 02 AA BB", {{6198}}}, {10, "00 01", {}}, {10, "02 01 FF 09 00  01 FF 0A 05", {{6198}}},
        // the others decode the records that lie wholly within the reply
        {6, "05 04 FF FF 00  02 FF FF 00  01 FF", {{6107}, {6106}}}, {6, "02 04 FF FF 00  02 FF FF 09 AA", {{6107}}},
        {9, "02 03 FF 01 00  03 FF 02 01", {{6115}}}, {13, "03 08 01 02 03  08 02 02", {{6224, 0x0103}}},
        {2, "04 01 01 00  02 01", {{6113, 1}}}, {3, "02 01 00 07  02 00", {{6114, 1}}}, {8, "03", {}},
        {11, "01 08 09 05 00", {{6221, 9}}},
    };
    for (const auto& [code, reply, alerts] : cases)
        EXPECT_EQ(listOf(code, hex(reply)), alerts) << code << ": " << reply;
}

TEST(AlertLists, DecodeThroughTheVirtualParserWithTheWholeRecords) {
    struct Recording : OpenPrtObj {   // a host's decoder that records its calls
        using OpenPrtObj::OpenPrtObj;
        std::vector<std::pair<unsigned, unsigned>> calls;   // record count, kind
        long parseAlertData(unsigned char* r, unsigned n, unsigned kind, KVPALERTDATA** l, unsigned* c) override {
            calls.emplace_back(n, kind);
            return KVPrtObj::parseAlertData(r, n, kind, l, c);
        }
    };
    AttachedPrinter attached;
    Recording p(attached.handle, 0);
    p.setBidi(1);
    attached->answer(6, reply(hex("05 04 FF FF 00  02 FF FF 00  01")));
    attached->answer(13, reply(hex("00")));
    EXPECT_EQ(list(p, 6), (Alerts{{6107}, {6106}}));
    EXPECT_EQ(list(p, 13), Alerts{});
    EXPECT_EQ(p.calls, (std::vector<std::pair<unsigned, unsigned>>{{2, 3}}));
}

// Failures give an empty list; a summary leaves its words on a failure and on a success without a reply.
TEST(AlertFamilies, FailuresMissingRecordsAndRepliesWithoutBuffer) {
    struct NoReply : OpenPrtObj {
        long bidiQuery(unsigned short, void*, unsigned long, void**, unsigned long*, int, int) override { return 0; }
    } noReply;
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.code);
        PrinterRig rig;
        rig.printer.answer(f.code, fail(-16));
        rig.printer.answer(f.code, reply(hex("00 01 01 01 00")));
        EXPECT_EQ(list(rig.obj, f.code, -16), Alerts{});
        EXPECT_EQ(list(rig.obj, f.code, -11), Alerts{});   // the channel went down
        rig.obj.setBidi(1);
        EXPECT_EQ(list(rig.obj, f.code), Alerts{});
        if (!f.summary) continue;
        rig.printer.clearRecords();
        rig.printer.answer(f.code, fail(-10));
        auto alerts = withWord<PRTALERTS>(kUntouched);
        auto uir = withWord<UIRALERTS>(kUntouched);
        EXPECT_EQ(f.summary(rig.obj, &alerts, &uir), -10);
        EXPECT_EQ(f.summary(noReply, &alerts, &uir), 0);
        EXPECT_EQ(word(alerts), kUntouched);
        EXPECT_EQ(word(uir), kUntouched);
        EXPECT_EQ(f.summary(rig.obj, nullptr, &uir), -18);
        EXPECT_EQ(rig.printer.requestCount(), 1u);
    }
    PrinterRig rig;
    PRTALERTS alerts{};
    EXPECT_EQ(rig.obj.bidiQueryOperatorIV(&alerts, nullptr), -18);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
}

TEST(AlertSummaries, RecordsSetTheirBits) {
    struct Case {
        unsigned short code;
        const char* reply;
        uint32_t after;
        uint32_t before = 0;
    };
    const Case cases[] = {
        // each family clears only its own bits
        {2, "00", ~0x2100u, ~0u}, {3, "00", ~0x0400u, ~0u}, {6, "00", ~0x00F8u, ~0u}, {7, "00", ~0x4006u, ~0u},
        {8, "00", ~0x1000u, ~0u}, {9, "00", ~0x0800u, ~0u}, {10, "00", ~0x0001u, ~0u}, {11, "00", ~0u, ~0u},
        {2, "01 02 01 0B", 0x2000}, {2, "01 02 01 08", 0x0100}, {2, "01 05 00 00", 0},
        {2, "02 02 01 0B  01 01 00", 0x0100},                 // a state-0 record clears the flag bit...
        {2, "03 02 01 0B  01 01 00  03 01 09", 0x2100},       // ...and a later flag sets it again
        {3, "01 01 00 0F", 0x0400}, {3, "01 01 00 06", 0},
        {6, "04 01 FF 01 00  02 FF FF 00  03 FF FF 00  04 FF FF 00", 0xB8}, {6, "01 05 01 01 00", 0, 0x40},
        // jams, warnings and supplies step four bytes and do not read the extra length; service does
        {6, "02 01 FF 01 04  02 01 FF 00  03 FF FF 00", 0x90}, {8, "02 01 01 03 04  08 01 01 00", 0x1000},
        {11, "02 01 01 03 04  08 01 01 00", 0x1000}, {9, "02 01 01 01 04  03 01 01 00  01 01 01 00", 0},
        {9, "02 01 01 01 01 AA  03 01 01 00", 0x0800}, {10, "02 01 FF 09 00", 0x0001},
        // truncated runs: whole records only
        {6, "03 04 FF FF 00  01 FF", 0x08}, {9, "02 01 FF 01 00  03 FF 01 05 AA", 0},
        {2, "02 01 01 08  02 01", 0x0100}, {3, "05 01 00 07", 0x0400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.code << ": " << c.reply);
        EXPECT_EQ(summaryOf(c.code, hex(c.reply), c.before), c.after);
    }
}

TEST(AlertSummaries, OperatorIntervention) {
    const std::tuple<const char*, uint32_t, uint32_t> cases[] = {
        {"02 01 01 FF 00  05 05 05 00", 0x4000, 1u << 18}, {"02 05 05 05 00  01 01 FF 00", 0, 1u << 18},
        {"02 03 01 01 02 AA BB  03 FF 01 00", 0x0002, 0}, {"01 04 FF 01 00", 0x0004, 0},
        {"01 03 0E FF 00", 0x4000, 0}, {"01 03 19 FF 00", 0x4000, 0},   // 6135 in the list only
        {"03 03 16 FF 00  04 FF 01 00  03 0E FF 00", 0x4004, 1u << 16},
        {"02 03 01 01 00  05 05 05 09", 0x0002, 0},                      // truncated last record
    };
    for (auto [records, prt, uirWord] : cases) {
        SCOPED_TRACE(records);
        uint32_t uir = 0;
        EXPECT_EQ(summaryOf(7, hex(records), 0, &uir), prt);
        EXPECT_EQ(uir, uirWord);
    }
    // UIRALERTS bit n is the record the list reports as 6119 + n
    const uint32_t keys[] = {0x0306FF, 0x0304FF, 0x0104FF, 0x0105FF, 0x0401FF, 0x0302FF, 0x030CFF,
                             0x030AFF, 0x0103FF, 0x0402FF, 0x0307FF, 0x0303FF, 0x0305FF, 0x030DFF,
                             0x0102FF, 0x0301FF, 0x0316FF, 0x0309FF, 0x0101FF, 0x030BFF, 0x0308FF};
    for (unsigned n = 0; n < std::size(keys); ++n) {
        ByteVec record = Bytes().u8(1).be32(keys[n] << 8);
        uint32_t uir = 0;
        EXPECT_EQ(summaryOf(7, record, 0, &uir), 0u) << n;
        EXPECT_EQ(uir, 1u << n) << n;
        EXPECT_EQ(listOf(7, record), (Alerts{{static_cast<uint16_t>(6119 + n)}})) << n;
    }
}
