#include <gtest/gtest.h>

#include <functional>

#include "alert_list.h"
#include "scripted_printer.h"

using namespace kvtest;
using PRTALERTS = KVPrtObj::PRTALERTS;
using UIRALERTS = KVPrtObj::UIRALERTS;
using KVPALERTDATA = KVPrtObj::KVPALERTDATA;

namespace {

using ListForm = long (KVPrtObj::*)(unsigned int*, KVPALERTDATA**);

Alerts list(KVPrtObj& p, ListForm form, long expectedRc = 0) {
    unsigned count = 99;
    auto* garbage = reinterpret_cast<KVPALERTDATA*>(0x1);
    KVPALERTDATA* alerts = garbage;
    EXPECT_EQ((p.*form)(&count, &alerts), expectedRc);
    if (count == 0) {
        EXPECT_EQ(alerts, nullptr);
    }
    return takeList(alerts, count);
}

struct ListRow {
    const char* name;
    ListForm form;
    unsigned short code;
    ByteVec data;
    ByteVec reply;   // as the operation sees it
    Alerts expected;
};

const ListRow kListRows[] = {
    {"input", &KVPrtObj::bidiQueryInputStatus, 2, {0x00}, hex("02 02 01 0B  01 01 00"),
     {{6209, 0x0203}, {6117, 2}, {6113, 1}}},
    {"output", &KVPrtObj::bidiQueryOutputStatus, 3, {0x00}, hex("02 04 00 0F  05 01 06"), {{6114, 4}}},
    {"jams", &KVPrtObj::bidiQueryPaperJams, 6, {}, hex("01 05 01 01 00"), {{6108}}},
    {"intervention", &KVPrtObj::bidiQueryOperatorIV, 7, {}, hex("01 01 06 01 00"), {{6240, 6}}},
    {"warnings", &KVPrtObj::bidiQueryWarnings, 8, {}, hex("01 05 01 01 00"), {{6208}}},
    {"service", &KVPrtObj::bidiQueryServiceReq, 9, {}, hex("02 03 FF 01 00  03 FF 03 00"), {{6115}}},
    {"config", &KVPrtObj::bidiQueryConfigChg, 10, {}, hex("01 02 01 01 00"), {{6201}}},
    {"supplies", &KVPrtObj::bidiQuerySupplies, 11, {}, hex("01 08 09 05 00"), {{6221, 9}}},
    {"supplies status", &KVPrtObj::bidiQuerySuppliesStatus, 13, {0x00}, hex("01 08 03 05 07"), {{6224, 0x0307}}},
};

}  // namespace

TEST(AlertLists, EachFamilySendsItsRequestAndDecodesItsKind) {
    for (const ListRow& row : kListRows) {
        SCOPED_TRACE(row.name);
        PrinterRig rig;
        rig.printer.answer(row.code, reply(row.reply));
        EXPECT_EQ(list(rig.obj, row.form), row.expected);
        ASSERT_EQ(rig.printer.requestCount(), 1u);
        EXPECT_EQ(rig.printer.lastRequest().code, row.code);
        EXPECT_EQ(rig.printer.lastRequest().data, row.data);
    }
}

TEST(AlertLists, FailuresAndEmptyRepliesGiveAnEmptyList) {
    for (const ListRow& row : kListRows) {
        SCOPED_TRACE(row.name);
        PrinterRig rig;
        rig.printer.answer(row.code, fail(-16));
        rig.printer.answer(row.code, reply(hex("00 01 01 01 00")));
        EXPECT_EQ(list(rig.obj, row.form, -16), Alerts{});
        rig.obj.setBidi(1);
        EXPECT_EQ(list(rig.obj, row.form), Alerts{});
        rig.obj.setBidi(0);
        EXPECT_EQ(list(rig.obj, row.form, -11), Alerts{});
    }
}

TEST(AlertLists, InputStatusRecords) {
    PrinterRig rig;
    // status 08: state 0 and the flag; presence 0: never 6113 or 6117
    rig.printer.answer(2, reply(hex("03 02 01 08  05 00 00  06 00 08")));
    EXPECT_EQ(list(rig.obj, &KVPrtObj::bidiQueryInputStatus),
              (Alerts{{6113, 2}, {6117, 2}, {6209, 0x0500}, {6209, 0x0600}}));
}

TEST(AlertLists, TruncatedRunsKeepTheWholeRecordsOnly) {
    struct Case {
        const char* name;
        ListForm form;
        unsigned short code;
        ByteVec reply;
        Alerts expected;
    };
    const Case cases[] = {
        {"count beyond the records", &KVPrtObj::bidiQueryPaperJams, 6, hex("05 04 FF FF 00  02 FF FF 00  01 FF"),
         {{6107}, {6106}}},
        {"extra data past the end", &KVPrtObj::bidiQueryPaperJams, 6, hex("02 04 FF FF 00  02 FF FF 09 AA"),
         {{6107}}},
        {"extra data of the last record", &KVPrtObj::bidiQueryServiceReq, 9, hex("02 03 FF 01 00  03 FF 02 01"),
         {{6115}}},
        {"four-byte records", &KVPrtObj::bidiQuerySuppliesStatus, 13, hex("03 08 01 02 03  08 02 02"),
         {{6224, 0x0103}}},
        {"status records", &KVPrtObj::bidiQueryInputStatus, 2, hex("04 01 01 00  02 01"), {{6113, 1}}},
        {"status records", &KVPrtObj::bidiQueryOutputStatus, 3, hex("02 01 00 07  02 00"), {{6114, 1}}},
        {"count byte only", &KVPrtObj::bidiQueryWarnings, 8, hex("03"), {}},
        {"configuration records", &KVPrtObj::bidiQueryConfigChg, 10, hex("02 01 FF 09 00  01 FF 0A 05"),
         {{6198}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrinterRig rig;
        rig.printer.answer(c.code, reply(c.reply));
        EXPECT_EQ(list(rig.obj, c.form), c.expected);
    }
}

TEST(AlertLists, ConfigurationChangeShorterThanPromisedIsOneAlert) {
    PrinterRig rig;
    rig.printer.answer(10, reply(hex("02 01 FF 09 00")));                  // 5 bytes, count 2
    rig.printer.answer(10, reply(hex("01 01 FF 09 03 AA BB")));            // first extra length 3, only 2 bytes
    rig.printer.answer(10, reply(hex("01 01 FF 09 02 AA BB")));            // exactly as long as promised
    rig.printer.answer(10, reply(hex("02 01 03 04 00  02 01 01 00")));
    EXPECT_EQ(list(rig.obj, &KVPrtObj::bidiQueryConfigChg), (Alerts{{6201}}));
    EXPECT_EQ(list(rig.obj, &KVPrtObj::bidiQueryConfigChg), (Alerts{{6201}}));
    EXPECT_EQ(list(rig.obj, &KVPrtObj::bidiQueryConfigChg), (Alerts{{6198}}));
    EXPECT_EQ(list(rig.obj, &KVPrtObj::bidiQueryConfigChg), (Alerts{{6193, 3}, {6201}}));
}

namespace {
// A host's printer object that records what its parseAlertData was handed.
struct RecordingDecoder : OpenPrtObj {
    using OpenPrtObj::OpenPrtObj;
    std::vector<std::pair<unsigned, unsigned>> calls;   // record count, kind
    long parseAlertData(unsigned char* records, unsigned int n, unsigned int kind, KVPALERTDATA** alerts,
                        unsigned int* count) override {
        calls.emplace_back(n, kind);
        return KVPrtObj::parseAlertData(records, n, kind, alerts, count);
    }
};
}  // namespace

TEST(AlertLists, DecodeThroughTheVirtualParserWithTheWholeRecords) {
    AttachedPrinter attached;
    RecordingDecoder p(attached.handle, 0);
    p.setBidi(1);
    attached->answer(6, reply(hex("05 04 FF FF 00  02 FF FF 00  01")));
    attached->answer(13, reply(hex("00")));
    EXPECT_EQ(list(p, &KVPrtObj::bidiQueryPaperJams), (Alerts{{6107}, {6106}}));
    EXPECT_EQ(list(p, &KVPrtObj::bidiQuerySuppliesStatus), Alerts{});
    EXPECT_EQ(p.calls, (std::vector<std::pair<unsigned, unsigned>>{{2, 3}}));
}

// ---- summaries ----

namespace {

struct SummaryRow {
    const char* name;
    unsigned short code;
    std::function<long(KVPrtObj&, PRTALERTS*)> call;
    uint32_t ownBits;   // cleared by an empty reply
};

UIRALERTS g_uir;

const SummaryRow kSummaries[] = {
    {"input", 2, [](KVPrtObj& p, PRTALERTS* a) { return p.bidiQueryInputStatus(a); }, 0x2100},
    {"output", 3, [](KVPrtObj& p, PRTALERTS* a) { return p.bidiQueryOutputStatus(a); }, 0x0400},
    {"jams", 6, [](KVPrtObj& p, PRTALERTS* a) { return p.bidiQueryPaperJams(a); }, 0x00F8},
    {"intervention", 7, [](KVPrtObj& p, PRTALERTS* a) { return p.bidiQueryOperatorIV(a, &g_uir); }, 0x4006},
    {"warnings", 8, [](KVPrtObj& p, PRTALERTS* a) { return p.bidiQueryWarnings(a); }, 0x1000},
    {"service", 9, [](KVPrtObj& p, PRTALERTS* a) { return p.bidiQueryServiceReq(a); }, 0x0800},
    {"config", 10, [](KVPrtObj& p, PRTALERTS* a) { return p.bidiQueryConfigChg(a); }, 0x0001},
    {"supplies", 11, [](KVPrtObj& p, PRTALERTS* a) { return p.bidiQuerySupplies(a); }, 0x0000},
};

// The summary word after `call` on a client word of `before` with `afterStrip` as reply.
uint32_t summarise(const SummaryRow& row, const ByteVec& afterStrip, uint32_t before = 0) {
    PrinterRig rig;
    rig.printer.answer(row.code, reply(afterStrip));
    auto alerts = withWord<PRTALERTS>(before);
    EXPECT_EQ(row.call(rig.obj, &alerts), 0);
    EXPECT_EQ(rig.printer.lastRequest().code, row.code);
    return word(alerts);
}

const SummaryRow& summary(const char* name) {
    for (const SummaryRow& row : kSummaries)
        if (std::string(row.name) == name) return row;
    throw std::logic_error(name);
}

}  // namespace

TEST(AlertSummaries, EachClearsOnlyItsOwnBits) {
    for (const SummaryRow& row : kSummaries) {
        SCOPED_TRACE(row.name);
        g_uir = withWord<UIRALERTS>(0xFFFFFFFF);
        EXPECT_EQ(summarise(row, hex("00")), 0u);
        EXPECT_EQ(summarise(row, hex("00"), 0xFFFFFFFF), ~row.ownBits);
        // the intervention summary zeroes the whole UIRALERTS word
        EXPECT_EQ(word(g_uir), row.code == 7 ? 0u : 0xFFFFFFFFu);
    }
}

TEST(AlertSummaries, FailuresAndMissingRecordsLeaveTheRecords) {
    for (const SummaryRow& row : kSummaries) {
        SCOPED_TRACE(row.name);
        PrinterRig rig;
        rig.printer.answer(row.code, fail(-10));
        auto alerts = withWord<PRTALERTS>(0xFFFFFFFF);
        g_uir = withWord<UIRALERTS>(0x5A5A5A5A);
        EXPECT_EQ(row.call(rig.obj, &alerts), -10);
        EXPECT_EQ(word(alerts), 0xFFFFFFFFu);
        EXPECT_EQ(word(g_uir), 0x5A5A5A5Au);
        EXPECT_EQ(row.call(rig.obj, nullptr), -18);
        EXPECT_EQ(rig.printer.requestCount(), 1u);
    }
    PrinterRig rig;
    PRTALERTS alerts{};
    EXPECT_EQ(rig.obj.bidiQueryOperatorIV(&alerts, nullptr), -18);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
}

TEST(AlertSummaries, SuccessWithoutReplyLeavesTheRecords) {
    struct NoReply : OpenPrtObj {
        long bidiQuery(unsigned short, void*, unsigned long, void**, unsigned long*, int, int) override { return 0; }
    } p;
    for (const SummaryRow& row : kSummaries) {
        SCOPED_TRACE(row.name);
        auto alerts = withWord<PRTALERTS>(0xFFFFFFFF);
        g_uir = withWord<UIRALERTS>(0x5A5A5A5A);
        EXPECT_EQ(row.call(p, &alerts), 0);
        EXPECT_EQ(word(alerts), 0xFFFFFFFFu);
        EXPECT_EQ(word(g_uir), 0x5A5A5A5Au);
    }
    unsigned count = 7;
    KVPALERTDATA* alerts = nullptr;
    EXPECT_EQ(p.bidiQueryPaperJams(&count, &alerts), 0);
    EXPECT_EQ(count, 0u);
}

TEST(AlertSummaries, RecordsSetTheirBits) {
    auto fields = [](uint32_t w) { return withWord<PRTALERTS>(w); };
    // input: a later state-0 record clears the flag an earlier one set; a later flag sets it again
    EXPECT_EQ(summarise(summary("input"), hex("01 02 01 0B")), 0x2000u);
    EXPECT_EQ(summarise(summary("input"), hex("01 02 01 08")), 0x0100u);
    EXPECT_EQ(summarise(summary("input"), hex("02 02 01 0B  01 01 00")), 0x0100u);
    EXPECT_EQ(summarise(summary("input"), hex("03 02 01 0B  01 01 00  03 01 09")), 0x2100u);
    EXPECT_EQ(summarise(summary("input"), hex("01 05 00 00")), 0u);
    EXPECT_TRUE(fields(summarise(summary("input"), hex("01 02 01 0B"))).bInputStatusFlag);
    // output
    EXPECT_TRUE(fields(summarise(summary("output"), hex("01 01 00 0F"))).bOutputStateSeven);
    EXPECT_EQ(summarise(summary("output"), hex("01 01 00 06")), 0u);
    // jams by category; bit 6 is only cleared
    auto jams = fields(summarise(summary("jams"), hex("04 01 FF 01 00  02 FF FF 00  03 FF FF 00  04 FF FF 00")));
    EXPECT_TRUE(jams.bJamCategory1 && jams.bJamCategory2 && jams.bJamCategory3 && jams.bJamCategory4);
    EXPECT_EQ(word(jams), 0xB8u);
    EXPECT_EQ(summarise(summary("jams"), hex("01 05 01 01 00"), 0x40), 0u);
    // the jam, warning and supplies summaries step four bytes and do not read the extra length
    EXPECT_EQ(summarise(summary("jams"), hex("02 01 FF 01 04  02 01 FF 00  03 FF FF 00")), 0x90u);
    EXPECT_TRUE(fields(summarise(summary("warnings"), hex("02 01 01 03 04  08 01 01 00"))).bSuppliesCategory8);
    EXPECT_TRUE(fields(summarise(summary("supplies"), hex("02 01 01 03 04  08 01 01 00"))).bSuppliesCategory8);
    // the service summary does
    EXPECT_EQ(summarise(summary("service"), hex("02 01 01 01 04  03 01 01 00  01 01 01 00")), 0u);
    EXPECT_TRUE(fields(summarise(summary("service"), hex("02 01 01 01 01 AA  03 01 01 00"))).bServiceCategory3);
    // configuration change: any count, records unread
    EXPECT_TRUE(fields(summarise(summary("config"), hex("02 01 FF 09 00"))).bConfigChanged);
}

TEST(AlertSummaries, WarningsAndSuppliesShareBit12) {
    PrinterRig rig;
    rig.printer.answer(8, reply(hex("01 08 01 01 00")));
    rig.printer.answer(11, reply(hex("01 07 01 05 00")));
    PRTALERTS alerts{};
    EXPECT_EQ(rig.obj.bidiQueryWarnings(&alerts), 0);
    EXPECT_EQ(rig.obj.bidiQuerySupplies(&alerts), 0);
    EXPECT_TRUE(alerts.bSuppliesCategory8);
}

TEST(AlertSummaries, OperatorIntervention) {
    struct Case {
        ByteVec reply;
        uint32_t prt;
        uint32_t uir;
    };
    const Case cases[] = {
        {hex("02 01 01 FF 00  05 05 05 00"), 0x4000, 1u << 18},
        {hex("02 05 05 05 00  01 01 FF 00"), 0, 1u << 18},
        {hex("02 03 01 01 02 AA BB  03 FF 01 00"), 0x0002, 0},   // extra data skipped
        {hex("01 04 FF 01 00"), 0x0004, 0},
        {hex("01 03 0E FF 00"), 0x4000, 0},                        // 6135 in the list, unrecognised here
        {hex("01 03 19 FF 00"), 0x4000, 0},
        {hex("03 03 16 FF 00  04 FF 01 00  03 0E FF 00"), 0x4004, 1u << 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toHex(c.reply));
        g_uir = withWord<UIRALERTS>(0xFFFFFFFF);
        EXPECT_EQ(summarise(summary("intervention"), c.reply), c.prt);
        EXPECT_EQ(word(g_uir), c.uir);
    }
    // UIRALERTS bit n is the record the list reports as 6119 + n
    const uint32_t keys[] = {0x0306FF, 0x0304FF, 0x0104FF, 0x0105FF, 0x0401FF, 0x0302FF, 0x030CFF,
                             0x030AFF, 0x0103FF, 0x0402FF, 0x0307FF, 0x0303FF, 0x0305FF, 0x030DFF,
                             0x0102FF, 0x0301FF, 0x0316FF, 0x0309FF, 0x0101FF, 0x030BFF, 0x0308FF};
    for (unsigned n = 0; n < std::size(keys); ++n) {
        ByteVec record = Bytes().u8(1).u8(keys[n] >> 16).u8(keys[n] >> 8).u8(keys[n]).u8(0);
        SCOPED_TRACE(toHex(record));
        PrinterRig rig;
        rig.printer.answer(7, reply(record));
        EXPECT_EQ(summarise(summary("intervention"), record), 0u);
        EXPECT_EQ(word(g_uir), 1u << n);
        EXPECT_EQ(list(rig.obj, &KVPrtObj::bidiQueryOperatorIV), (Alerts{{static_cast<uint16_t>(6119 + n)}}));
    }
    UIRALERTS uir = withWord<UIRALERTS>(1u << 16);
    EXPECT_TRUE(uir.bAlert6135);
    EXPECT_FALSE(uir.bAlert6119);
}

TEST(AlertSummaries, TruncatedRunsSetBitsOfWholeRecordsOnly) {
    EXPECT_EQ(summarise(summary("jams"), hex("03 04 FF FF 00  01 FF")), 0x08u);
    EXPECT_EQ(summarise(summary("service"), hex("02 01 FF 01 00  03 FF 01 05 AA")), 0u);
    EXPECT_EQ(summarise(summary("intervention"), hex("02 03 01 01 00  05 05 05 09")), 0x0002u);
    EXPECT_EQ(summarise(summary("input"), hex("02 01 01 08  02 01")), 0x0100u);
    EXPECT_EQ(summarise(summary("output"), hex("05 01 00 07")), 0x0400u);
}
