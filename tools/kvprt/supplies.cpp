// Supplies and counters: toner levels with estimates and gauges, page counts
// (commands toner and pagecounts).
#include <algorithm>
#include <optional>
#include <utility>

#include "command.h"
#include "records.h"

namespace kvprt {

// The gauge runs from 0 to this value (the top step).
constexpr unsigned kGaugeTop = 94;
// A level of fewer steps is not a measurement.
constexpr unsigned kMeasuredSteps = 2;
// The record's level: its step (bits 0-6) and, for an unmeasured level, "some remaining" (bit 7).
constexpr uint8_t kLevelStep = 0x7F, kLevelFlag = 0x80;

TonerList tonerList(KvTonerPrediction::TonerInfoArray& supplies) {
    TonerList list;
    for (unsigned i = 0; i < supplies.numSupplies(); ++i) list.push_back(*supplies[i]);
    return list;
}

json tonerJson(const TonerList& supplies) {
    json list = json::array();
    for (const KvTonerPrediction::TonerInfo& t : supplies) {
        list.push_back({{"supply", t.bySupplyId},
                        {"attribute", t.byAttribute},
                        {"level", t.byLevel & kLevelStep},
                        {"levelFlag", (t.byLevel & kLevelFlag) != 0},
                        {"levelCount", t.byLevelCount},
                        {"pageCount", t.ulPageCount},
                        {"basePageCount", t.ulBasePageCount},
                        {"estimate", t.lEstimate < 0 ? json(nullptr) : json(t.lEstimate)},
                        {"estimate2", t.lEstimate2 < 0 ? json(nullptr) : json(t.lEstimate2)},
                        {"gauge", t.byGauge1},
                        {"gauge2", t.byGauge2},
                        {"step", t.ulStep},
                        {"stepHigh", t.ulStepHigh},
                        {"stepLow", t.ulStepLow},
                        {"adjustHigh", t.ulAdjustHigh},
                        {"adjustLow", t.ulAdjustLow},
                        {"valueA", t.ulValueA},
                        {"valueB", t.ulValueB},
                        {"valueC", t.byValueC},
                        {"valueD", t.ulValueD}});
    }
    return list;
}

Reading<TonerList> readToner(KVPrtObj& obj) {
    Reading<TonerList> r{0, "bidiQueryTonerInfo"};
    KvTonerPrediction prediction(&obj);
    KvTonerPrediction::TonerInfoArray supplies;
    r.rc = prediction.bidiQueryTonerInfo(supplies);
    if (r.rc == 0) r.value = tonerList(supplies);
    return r;
}

Reading<KVPrtObj::PAGECOUNTDATA> readPageCounts(KVPrtObj& obj) {
    Reading<KVPrtObj::PAGECOUNTDATA> r{0, "bidiGetPageCounts"};
    r.rc = obj.bidiGetPageCounts(&r.value);
    return r;
}

json pageCountsJson(const KVPrtObj::PAGECOUNTDATA& counts) {
    return {{"type1", counts.dwPageCountType1},
            {"type2", counts.dwPageCountType2},
            {"type3", counts.dwPageCountType3},
            {"type4", counts.dwPageCountType4}};
}

std::optional<unsigned> levelPercent(const KvTonerPrediction::TonerInfo& t) {
    // Below two steps a level is no measurement (docs/realprinters.md).
    if (t.byLevelCount < kMeasuredSteps) return std::nullopt;
    const unsigned top = t.byLevelCount - 1u, level = std::min<unsigned>(t.byLevel & kLevelStep, top);
    return (level * 100 + top / 2) / top;
}

std::string levelWords(const KvTonerPrediction::TonerInfo& t) {
    if (std::optional<unsigned> percent = levelPercent(t)) return std::to_string(*percent) + " %";
    return t.byLevel & kLevelFlag ? "some remaining" : "unknown";
}

std::string estimateWords(const KvTonerPrediction::TonerInfo& t) {
    if (t.lEstimate < 0) return "unknown: no pages per percent";
    // The estimate counts the pages since the base: a base older than the cartridge leaves none.
    if (t.lEstimate == 0 && (t.byLevel & kLevelStep) > 0) return "0 pages: reset the count after a new cartridge";
    return std::to_string(t.lEstimate) + " pages";
}

void renderToner(const TonerList& supplies, std::ostream& out) {
    if (supplies.empty()) {
        out << "  No toner supplies reported.\n";
        return;
    }
    constexpr unsigned kBar = 20;
    Table t({"Supply", "Level", "Pages", "Since base", "Estimate", "Gauge"});
    for (const KvTonerPrediction::TonerInfo& s : supplies) {
        const long since = static_cast<long>(s.ulPageCount) - static_cast<long>(s.ulBasePageCount);
        std::string bar = "-";   // the gauge of an unmeasured level would show a full supply
        if (levelPercent(s)) {
            unsigned gauge = std::min<unsigned>(s.byGauge1, kGaugeTop);
            unsigned filled = (gauge * kBar + kGaugeTop / 2) / kGaugeTop;
            bar = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + "]";
        }
        t.add({std::to_string(s.bySupplyId), levelWords(s), std::to_string(s.ulPageCount), std::to_string(since),
               estimateWords(s), bar});
    }
    t.print(out);
}

namespace {

Part gatherToner(Printer& printer) { return partOf(readToner(printer.obj()).get(), tonerJson, renderToner); }

void renderPageCounts(const KVPrtObj::PAGECOUNTDATA& counts, std::ostream& out) {
    Table t({"Counter", "Pages"});
    const std::pair<const char*, uint32_t> rows[] = {
        {"Type 1", counts.dwPageCountType1}, {"Type 2", counts.dwPageCountType2}, {"Type 4", counts.dwPageCountType4}};
    for (const auto& [name, pages] : rows) {
        char text[kSizeToStringBuffer];
        SizeToString(static_cast<long>(pages), text);
        t.add({name, text});
    }
    t.print(out);
}

Part gatherPageCounts(Printer& printer) {
    return partOf(readPageCounts(printer.obj()).get(), pageCountsJson, renderPageCounts);
}

}  // namespace

const Section kTonerSection = {"toner", "Toner", gatherToner};
const Section kPageCountsSection = {"pageCounts", "Page counts", gatherPageCounts};

void addSuppliesCommands(CLI::App& app, Context& ctx) {
    CLI::App* toner = app.add_subcommand("toner", "Toner levels, estimates and gauges");
    toner->callback([&ctx, toner] {
        if (toner->get_subcommands().empty()) ctx.action = [&ctx] { return runSections(ctx, {&kTonerSection}, false); };
    });
    toner->add_subcommand("reset-count", "Store the first supply's page count as its base (after a new cartridge)")
        ->callback([&ctx] {
            ctx.action = [&ctx] {
                KvTonerPrediction prediction(&ctx.printer().obj());
                check(prediction.bidiResetPageCount(), "bidiResetPageCount");
                return runSections(ctx, {&kTonerSection}, false);
            };
        });

    CLI::App* counts = app.add_subcommand("pagecounts", "Page counters");
    counts->callback([&ctx, counts] {
        if (counts->get_subcommands().empty())
            ctx.action = [&ctx] { return runSections(ctx, {&kPageCountsSection}, false); };
    });
    counts->add_subcommand("reset-host", "Reset the host page count")->callback([&ctx] {
        ctx.action = [&ctx] {
            check(ctx.printer().obj().bidiResetHostPageCount(), "bidiResetHostPageCount");
            return runSections(ctx, {&kPageCountsSection}, false);
        };
    });
}

}  // namespace kvprt
