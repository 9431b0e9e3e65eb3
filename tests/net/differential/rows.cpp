// The profile's trays, supplies and alerts as both standards carry them
// (differential.h); each row gives back its status record through the fills.
#include <algorithm>
#include <map>

#include "differential.h"
#include "snmp/oids.h"

namespace difftest {
namespace {

namespace oid = kvnet::snmp::oid;

// Status bytes (docs/realprinters.md): bits 0-2 the state, bit 3 attention.
constexpr uint8_t kStateMask = 0x07, kAttention = 0x08;
enum InputState : uint8_t { kEmpty = 0, kLow = 1, kHasMedia = 2, kUnavailable = 4 };
enum OutputState : uint8_t { kHasRoom = 0, kNearlyFull = 6, kFull = 7 };
// A level this far below the capacity reads as low (the fills' line is a tenth).
constexpr int64_t kLowDivisor = 20;
constexpr int64_t kTypeOther = 1;
constexpr uint8_t kRemovable = 0x20, kFaceUp = 0x01;   // output bin byte 6
constexpr uint8_t kStaplesCategory = 0x07, kReceptacleCondition = 0x06;
constexpr uint8_t kSomeRemaining = 254;   // supplies-status value

constexpr PaperSize kPaperSizes[] = {
    {2, 215900, 279400, "na_letter_8.5x11in"}, {3, 215900, 355600, "na_legal_8.5x14in"},
    {26, 210000, 297000, "iso_a4_210x297mm"},  {81, 104775, 241300, "na_number-10_4.125x9.5in"},
};

// The items of two lists by their numbers, in order: (the first's, the second's), either null.
template <class A, class B>
std::map<uint8_t, std::pair<const A*, const B*>> byNumber(const std::vector<A>& a, uint8_t A::*numberA,
                                                          const std::vector<B>& b, uint8_t B::*numberB) {
    std::map<uint8_t, std::pair<const A*, const B*>> all;
    for (const A& item : a) all[item.*numberA].first = &item;
    for (const B& item : b) all[item.*numberB].second = &item;
    return all;
}

}  // namespace

const PaperSize* paperSize(uint8_t code) {
    auto it = std::ranges::find(kPaperSizes, code, &PaperSize::code);
    return it == std::end(kPaperSizes) ? nullptr : it;
}

std::vector<InputRow> inputRows(const kvsim::Profile& p) {
    std::vector<InputRow> rows;
    for (auto [number, found] : byNumber(p.inputBins, &kvsim::InputBin::number, p.inputStatus, &kvsim::StatusRecord::id)) {
        auto [bin, s] = found;
        InputRow r{number, bin ? *bin : kvsim::InputBin{}, oid::levelUnknown, oid::availableIdle};
        const int64_t capacity = r.bin.capacity;
        if (s && !s->present) r.status = oid::unavailableOnRequest;   // not there
        if (s && s->present) {
            switch (s->status & kStateMask) {
            case kEmpty: r.level = 0; break;
            case kLow: r.level = capacity / kLowDivisor; break;
            case kHasMedia: r.level = capacity > 0 ? capacity : oid::levelSomeRemaining; break;
            case kUnavailable: r.status = oid::unavailableBroken; break;
            default: break;
            }
            if (s->status & kAttention) r.status |= oid::nonCriticalAlerts;
        }
        rows.push_back(r);
    }
    return rows;
}

std::vector<OutputRow> outputRows(const kvsim::Profile& p) {
    std::vector<OutputRow> rows;
    for (auto [number, found] : byNumber(p.outputBins, &kvsim::OutputBin::number, p.outputStatus, &kvsim::StatusRecord::id)) {
        auto [bin, s] = found;
        OutputRow r{number, bin ? *bin : kvsim::OutputBin{}, 0, oid::levelUnknown, oid::availableIdle, false};
        // One type says both whether the bin is the printer's own and whether it comes off.
        r.type = r.bin.byte1 == 1 ? oid::unRemovableBin : (r.bin.byte6 & kRemovable) ? oid::removableBin : kTypeOther;
        r.faceUp = (r.bin.byte6 & kFaceUp) != 0;
        const int64_t capacity = r.bin.capacity;
        if (s && !s->present) r.status = oid::unavailableOnRequest;
        if (s && s->present) {
            switch (s->status & kStateMask) {
            case kHasRoom: r.remaining = capacity > 0 ? capacity : oid::levelSomeRemaining; break;
            case kNearlyFull: r.remaining = capacity / kLowDivisor; break;
            case kFull: r.remaining = 0; break;
            default: break;
            }
        }
        rows.push_back(r);
    }
    return rows;
}

// Staples (category 7), receptacles (condition 6), toner (a toner record),
// else other; counted in pages when the toner record has a step (a percent
// is then `step` pages), else in percent.
std::vector<SupplyRow> supplyRows(const kvsim::Profile& p) {
    std::vector<SupplyRow> rows;
    for (auto [index, found] : byNumber(p.suppliesStatus, &kvsim::SupplyStatusRecord::instance, p.toner.supplies,
                                        &kvsim::TonerSupply::id)) {
        auto [s, t] = found;
        if (index == 0) continue;
        const bool receptacle = s && s->category != kStaplesCategory && s->condition == kReceptacleCondition;
        const bool pages = t && t->step > 0;
        SupplyRow r{index, receptacle ? oid::receptacleThatIsFilled : oid::supplyThatIsConsumed,
                    s && s->category == kStaplesCategory ? oid::staples
                    : receptacle                        ? oid::wasteToner
                    : t                                 ? oid::toner
                                                        : kTypeOther,
                    pages ? oid::unitImpressions : oid::unitPercent, pages ? int64_t{t->step} * 100 : 100,
                    oid::levelUnknown};
        if (s && s->value <= 100) r.level = s->value * r.max / 100;
        if (s && s->value == kSomeRemaining) r.level = oid::levelSomeRemaining;
        rows.push_back(r);
    }
    return rows;
}

std::optional<uint32_t> pageCount(const kvsim::Profile& p, uint8_t type) {
    auto it = std::ranges::find(p.pageCounts, type, &kvsim::PageCount::type);
    return it == p.pageCounts.end() ? std::nullopt : std::optional<uint32_t>(it->count);
}

// The records of sim/profiles/default.json: 01 FF 01 (a jam at an input),
// 08 01 01 (toner low, in the warnings and the supplies runs), 03 FF 01
// (service required) and 03 FF 05 (a disk installed: the third storage row).
const std::vector<AlertCarrier> kAlertCarriers = {
    {oid::critical, oid::input, -1, oid::code::jam, "jam at an input", "input-media-tray-jam-error"},
    {oid::warning, oid::markerSupplies, 1, oid::code::markerTonerAlmostEmpty, "toner low", "marker-supply-low-warning"},
    {oid::critical, oid::generalPrinter, -1, oid::code::subunitUnrecoverableFailure, "failure", "fan-failure-error"},
    {oid::warningBinaryChangeEvent, oid::hostResourcesMIBStorageTable, 3, oid::code::subunitAdded, "disk added",
     nullptr},
};

std::vector<std::pair<std::string, std::string>> itemsOf(const std::string& text, char separator) {
    std::vector<std::pair<std::string, std::string>> items;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find(';', start), text.size());
        const std::string item = text.substr(start, end - start);
        if (size_t at = item.find(separator); at != std::string::npos)
            items.emplace_back(item.substr(0, at), item.substr(at + 1));
    }
    return items;
}

}  // namespace difftest
