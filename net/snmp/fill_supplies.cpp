// Supplies status (0x0D), toner records (0x9A) and page counts (0x0C), from
// prtMarkerSuppliesTable and prtMarkerTable.
#include <algorithm>
#include <map>

#include "fill_parts.h"

namespace kvnet::snmp::detail {
namespace {

// Supplies-status values that are not a percentage.
constexpr uint8_t kSomeRemaining = 254, kUnknownLevel = 255;
// Toner levels that are not a measurement: byLevelCount 1, byLevel 0x80 for
// "some remains" (bit 7 is read by no computation), 0 for unknown.
constexpr uint8_t kTonerSomeRemaining = 0x80;
constexpr uint8_t kTonerSteps = 101;   // levels 0 to 100: percent

// The life counts of the markers, read once each (a counter typed INTEGER is noted once).
class LifeCounts {
public:
    explicit LifeCounts(Printer& p) : m_p(p) {
        std::vector<uint32_t> rows = p.rows(oid::prtMarkerEntry);
        auto preferred = p.number(oid::prtGeneralEntry, oid::prtMarkerDefaultIndex);
        if (preferred && std::find(rows.begin(), rows.end(), *preferred) != rows.end())
            m_default = static_cast<uint32_t>(*preferred);
        else if (!rows.empty())
            m_default = rows.front();
    }
    // The printer's marker: prtMarkerDefaultIndex, else the first.
    uint32_t defaultMarker() const { return m_default; }
    std::optional<uint32_t> of(uint32_t marker) {
        auto it = m_counts.find(marker);
        if (it != m_counts.end()) return it->second;
        auto count = m_p.counter(m_p.cell(oid::prtMarkerEntry, oid::prtMarkerLifeCount, {marker}),
                                 "prtMarkerLifeCount");
        m_counts[marker] = count;
        return count;
    }
    // A supply's marker's count, else the printer's.
    std::optional<uint32_t> ofSupply(const Supply& s) {
        std::optional<uint32_t> count = s.marker ? of(s.marker) : std::nullopt;
        return count ? count : of(m_default);
    }

private:
    Printer& m_p;
    uint32_t m_default = 1;
    std::map<uint32_t, std::optional<uint32_t>> m_counts;
};

kvsim::TonerSupply tonerRecord(const Supply& s, std::optional<uint32_t> lifeCount) {
    kvsim::TonerSupply t;
    t.id = static_cast<uint8_t>(s.index);
    // Page count = base: the library's estimate is then level x step, the pages left.
    t.pageCount = t.basePageCount = lifeCount.value_or(0);
    Level level = s.reading();
    switch (level.kind) {
    case LevelKind::Measured: {
        t.levelCount = kTonerSteps;
        t.level = static_cast<uint8_t>(level.percent);
        // Pages per percent when the capacity is counted in pages.
        bool pages = s.unit == oid::unitImpressions || s.unit == oid::unitSheets;
        if (pages && s.max && *s.max >= 100) t.step = static_cast<uint16_t>(std::min<int64_t>(*s.max / 100, 0xFFFF));
        break;
    }
    case LevelKind::SomeRemaining: t.levelCount = 1, t.level = kTonerSomeRemaining; break;
    case LevelKind::Unknown: t.levelCount = 1, t.level = 0; break;
    }
    return t;
}

}  // namespace

void fillSupplies(Printer& p) {
    for (const Supply& s : p.supplies) {
        Level level = s.reading();
        uint8_t value = level.kind == LevelKind::Measured        ? static_cast<uint8_t>(level.percent)
                        : level.kind == LevelKind::SomeRemaining ? kSomeRemaining
                                                                 : kUnknownLevel;
        uint8_t category = s.staples() ? 0x07 : 0x08;          // finisher supply, marker supply
        uint8_t condition = s.receptacle() ? 0x06 : 0x05;      // a receptacle that fills, a supply consumed
        p.snapshot.addSupplyStatus(category, static_cast<uint8_t>(s.index), condition, value);
    }

    LifeCounts lifeCounts(p);
    if (auto life = lifeCounts.of(lifeCounts.defaultMarker())) {
        p.profile.pageCounts.push_back({1, *life});
        auto unit = p.number(oid::prtMarkerEntry, oid::prtMarkerCounterUnit, {lifeCounts.defaultMarker()});
        if (unit == oid::counterSheets) p.profile.pageCounts.push_back({4, *life});
        p.snapshot.answer(kvbidi::kPageCounts);
    }

    kvsim::Toner& toner = p.profile.toner;
    for (const Supply& s : p.supplies)
        if (s.kind == alertmap::Subject::Toner && s.supplyClass != oid::receptacleThatIsFilled)
            toner.supplies.push_back(tonerRecord(s, lifeCounts.ofSupply(s)));
    if (!toner.supplies.empty()) {
        toner.leading = {0x01};
        toner.byte2 = 0;
        toner.common = 1;
        toner.format = 1;
        p.snapshot.answer(kvbidi::kTonerInfo);
    }
}

}  // namespace kvnet::snmp::detail
