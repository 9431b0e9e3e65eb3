#include <gtest/gtest.h>

#include <iomanip>

#include "alert_list.h"
#include "golden.h"
#include "scripted_printer.h"

using namespace kvtest;
using PRTALERTS = KVPrtObj::PRTALERTS;
using UIRALERTS = KVPrtObj::UIRALERTS;
using KVPALERTDATA = KVPrtObj::KVPALERTDATA;

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

std::string text(const Alerts& alerts) {
    std::ostringstream out;
    for (const Alert& a : alerts) {
        out << " " << a.id;
        if (a.value) out << "/" << a.value;
    }
    return alerts.empty() ? "-" : out.str().substr(1);
}

// "record K: bytes" decodes one record of kind K; "reply C: bytes" is family C's
// list of a reply, its summary word from a client word of 0 and of all ones,
// and for 7 the UIRALERTS word.
std::string decoded(const std::string& input) {
    const auto code = static_cast<unsigned short>(std::stoul(input.substr(input.find(' '))));
    const ByteVec bytes = hex(input.substr(input.find(':') + 1));
    if (input.starts_with("record")) return text(Decoder().decode(bytes, 1, code));
    std::ostringstream out;
    out << text(listOf(code, bytes));
    if (!family(code).summary) return out.str();
    uint32_t uir = 0;
    out << " |" << std::hex << std::uppercase << std::setfill('0');
    for (uint32_t before : {0u, ~0u}) out << " " << std::setw(8) << summaryOf(code, bytes, before, &uir);
    if (code == 7) out << " uir " << std::setw(8) << uir;
    return out.str();
}

}  // namespace

// Every table row, rule and default of the records; truncated runs keep the
// whole records only; each family clears only its own summary bits.
TEST(AlertRecords, RepliesGiveTheirListsAndSummaries) { expectGolden(KVPO_ALERTS_DIR "/alerts.golden", decoded); }

TEST(AlertLists, DecodeThroughTheVirtualParserWithTheWholeRecords) {
    struct Recording : OpenPrtObj {   // a host's decoder that records its calls
        using OpenPrtObj::OpenPrtObj;
        std::vector<std::pair<unsigned, unsigned>> calls;   // record count, kind
        long parseAlertData(unsigned char* r, unsigned n, unsigned kind, KVPALERTDATA** l, unsigned* c) override {
            calls.emplace_back(n, kind);
            return KVPrtObj::parseAlertData(r, n, kind, l, c);
        }
    };
    PrinterRigOf<Recording> rig;
    rig.printer.answer(6, reply(hex("05 04 FF FF 00  02 FF FF 00  01")));
    rig.printer.answer(13, reply(hex("00")));
    EXPECT_EQ(list(rig.obj, 6), (Alerts{{6107}, {6106}}));
    EXPECT_EQ(list(rig.obj, 13), Alerts{});
    EXPECT_EQ(rig.obj.calls, (std::vector<std::pair<unsigned, unsigned>>{{2, 3}}));
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
