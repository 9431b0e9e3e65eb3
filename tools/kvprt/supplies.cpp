// Supplies and counters: toner levels with estimates and gauges, page counts
// (commands toner and pagecounts).
#include <algorithm>

#include "command.h"
#include "records.h"

namespace kvprt {

// The gauge runs from 0 to this value (the top step).
constexpr unsigned kGaugeTop = 94;
// A level of fewer steps is not a measurement.
constexpr unsigned kMeasuredSteps = 2;

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
                        {"level", t.byLevel & 0x7F},
                        {"levelFlag", (t.byLevel & 0x80) != 0},
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

void renderToner(const json& supplies, std::ostream& out) {
    if (supplies.empty()) {
        out << "  No toner supplies reported.\n";
        return;
    }
    constexpr unsigned kBar = 20;
    Table t({"Supply", "Level", "Pages", "Since base", "Estimate", "Gauge"});
    for (const json& s : supplies) {
        long since = static_cast<long>(s["pageCount"].get<uint32_t>()) - s["basePageCount"].get<uint32_t>();
        std::string estimate = s["estimate"].is_null() ? "unknown" : cell(s["estimate"]) + " pages";
        // Below two steps a level is no measurement (docs/realprinters.md):
        // the flag says some remains; the gauge would show a full supply.
        if (s["levelCount"].get<unsigned>() < kMeasuredSteps) {
            std::string level = s["levelFlag"].get<bool>() ? "some remaining" : "unknown";
            t.add({cell(s["supply"]), level, cell(s["pageCount"]), std::to_string(since), estimate, "-"});
            continue;
        }
        unsigned gauge = std::min(s["gauge"].get<unsigned>(), kGaugeTop);
        unsigned filled = (gauge * kBar + kGaugeTop / 2) / kGaugeTop;
        std::string bar = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + "] " +
                          std::to_string(gauge) + "/" + std::to_string(kGaugeTop);
        t.add({cell(s["supply"]), cell(s["level"]) + " of " + cell(s["levelCount"]), cell(s["pageCount"]),
               std::to_string(since), estimate, bar});
    }
    t.print(out);
}

namespace {

json gatherToner(Printer& printer) { return tonerJson(readToner(printer.obj()).get()); }

json gatherPageCounts(Printer& printer) { return pageCountsJson(readPageCounts(printer.obj()).get()); }

void renderPageCounts(const json& j, std::ostream& out) {
    Table t({"Counter", "Pages"});
    for (const char* key : {"type1", "type2", "type4"}) {
        char text[kSizeToStringBuffer];
        SizeToString(j[key].get<long>(), text);
        t.add({std::string("Type ") + key[4], text});
    }
    t.print(out);
}

}  // namespace

const Section kTonerSection = {"toner", "Toner", gatherToner, renderToner};
const Section kPageCountsSection = {"pageCounts", "Page counts", gatherPageCounts, renderPageCounts};

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
