#include "supplies.h"

#include <algorithm>
#include <set>

namespace kvnet::ipp {
namespace {

constexpr int32_t kLevelSome = -3;   // RFC 3805: at least one unit remains
constexpr int32_t kNotReported = -2;
constexpr int kMaxIndex = 255;       // the records' instance byte

// Supplies-status record: category 8, condition 5 consumed, 6 receptacle.
constexpr uint8_t kCategorySupply = 0x08;
constexpr uint8_t kConditionConsumed = 5;
constexpr uint8_t kConditionReceptacle = 6;

// Toner records: format 1, a level of 101 steps (percent), else one step
// with byLevel 0x80 "some remains" or 0 "unknown".
const kvsim::Bytes kTonerLeading = {0x01};
constexpr uint8_t kTonerCommon = 1, kTonerFormat = 1;
constexpr uint8_t kPercentSteps = 101, kOneStep = 1, kSomeRemainsFlag = 0x80;

// Types that count in toner records, folded.
constexpr const char* kTonerTypes[] = {"toner", "tonercartridge", "ink", "inkcartridge"};

// printer-supply's class of a receptacle.
constexpr char kReceptacleClass[] = "receptaclethatisfilled";

bool countsPages(const std::string& unit) { return unit == "impressions" || unit == "sheets"; }

std::vector<Supply> fromPrinterSupply(const Attributes& printer, Snapshot* snapshot) {
    std::vector<Supply> supplies;
    std::set<int> seen;
    const auto texts = textsOf(printer, "printer-supply");
    for (size_t i = 0; i < texts.size(); ++i) {
        Members m = membersOf(texts[i]);
        int index = memberNumber(m, "index").value_or(static_cast<int32_t>(i + 1));
        if (index < 1 || index > kMaxIndex || !seen.insert(index).second) {
            snapshot->note("printer-supply index " + std::to_string(index) + " dropped (not 1-255, or repeated)");
            continue;
        }
        Supply s;
        s.index = static_cast<uint8_t>(index);
        s.receptacle = foldKeyword(memberText(m, "class")) == kReceptacleClass;
        s.type = foldKeyword(memberText(m, "type"));
        s.unit = foldKeyword(memberText(m, "unit"));
        s.max = memberNumber(m, "maxcapacity").value_or(kNotReported);
        s.level = memberNumber(m, "level").value_or(kNotReported);
        supplies.push_back(std::move(s));
    }
    return supplies;
}

// marker-levels are percentages; a waste supply's level is how full it is
// (marker-high-levels is its "nearly full"), turned here into the space left.
std::vector<Supply> fromMarkers(const Attributes& printer) {
    std::vector<Supply> supplies;
    const auto types = textsOf(printer, "marker-types");
    const auto levels = numbersOf(printer, "marker-levels", kNotReported);
    const auto lows = numbersOf(printer, "marker-low-levels", -1);
    const auto highs = numbersOf(printer, "marker-high-levels", -1);
    const size_t count = std::min<size_t>(std::max(types.size(), levels.size()), kMaxIndex);
    for (size_t i = 0; i < count; ++i) {
        Supply s;
        s.index = static_cast<uint8_t>(i + 1);
        s.type = i < types.size() ? foldKeyword(types[i]) : "";
        s.receptacle = s.type.rfind("waste", 0) == 0;
        s.unit = "percent";
        s.max = 100;
        s.level = i < levels.size() ? levels[i] : kNotReported;
        int32_t threshold = s.receptacle ? (i < highs.size() && highs[i] >= 0 && highs[i] <= 100 ? 100 - highs[i] : -1) : (i < lows.size() ? lows[i] : -1);
        if (threshold >= 0 && threshold <= 100) s.nearPercent = static_cast<uint8_t>(threshold);
        if (s.receptacle && s.level >= 0) s.level = 100 - std::min(s.level, 100);
        supplies.push_back(std::move(s));
    }
    return supplies;
}

kvsim::TonerSupply tonerRecord(const Supply& s, uint32_t impressions) {
    kvsim::TonerSupply t;
    t.id = s.index;
    t.pageCount = t.basePageCount = impressions;
    uint8_t value = s.value();
    if (value <= 100) {
        t.levelCount = kPercentSteps;
        t.level = value;
    } else {
        t.levelCount = kOneStep;
        t.level = value == kSomeRemaining ? kSomeRemainsFlag : 0;
    }
    // With a step of max/100 pages the library's estimate is the pages left.
    if (countsPages(s.unit) && s.max > 0) t.step = static_cast<uint16_t>(std::min(s.max / 100, 0xFFFF));
    return t;
}

}  // namespace

uint8_t Supply::value() const {
    if (level == kLevelSome) return kSomeRemaining;
    const int64_t capacity = unit == "percent" ? 100 : max;   // a percent unit means 100 whatever max says
    if (level < 0 || capacity <= 0) return kLevelUnknown;
    return static_cast<uint8_t>(std::min<int64_t>(100, int64_t{level} * 100 / capacity));
}

bool Supply::tonerOrInk() const {
    return std::any_of(std::begin(kTonerTypes), std::end(kTonerTypes), [&](const char* t) { return type == t; });
}

std::vector<Supply> readSupplies(const Attributes& printer, Snapshot* snapshot) {
    if (printer.count("printer-supply") != 0) return fromPrinterSupply(printer, snapshot);
    return fromMarkers(printer);
}

void fillSupplies(const std::vector<Supply>& supplies, uint32_t impressions, Snapshot* snapshot) {
    if (!snapshot->answers(kvbidi::kSuppliesStatus))
        for (const Supply& s : supplies)
            snapshot->addSupplyStatus(kCategorySupply, s.index, s.receptacle ? kConditionReceptacle : kConditionConsumed,
                                      s.value());

    if (snapshot->answers(kvbidi::kTonerInfo)) return;
    kvsim::Toner toner;
    toner.leading = kTonerLeading;
    toner.common = kTonerCommon;
    toner.format = kTonerFormat;
    for (const Supply& s : supplies)
        if (!s.receptacle && s.tonerOrInk()) toner.supplies.push_back(tonerRecord(s, impressions));
    if (toner.supplies.empty()) return;
    snapshot->profile.toner = std::move(toner);
    snapshot->answer(kvbidi::kTonerInfo);
}

}  // namespace kvnet::ipp
