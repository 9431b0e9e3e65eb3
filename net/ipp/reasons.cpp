#include "reasons.h"

#include <functional>

namespace kvnet::ipp {
namespace {

constexpr std::string_view kSuffixes[] = {"-error", "-warning", "-report"};
constexpr Severity kSeverities[] = {Severity::Error, Severity::Warning, Severity::Report};
constexpr uint8_t kNoItem = 0xFF;
constexpr uint8_t kLastLowInstance = 4;   // the supplies family names supplies 1-4 by their own conditions

// The numbers of the candidates that are in the condition; else the only
// candidate; else none.
template <class Item>
std::vector<uint8_t> pick(const std::vector<Item>& all, const std::function<bool(const Item&)>& candidate,
                          const std::function<bool(const Item&)>& inCondition, uint8_t Item::*number) {
    std::vector<uint8_t> matching, candidates;
    for (const Item& item : all) {
        if (!candidate(item)) continue;
        candidates.push_back(item.*number);
        if (inCondition(item)) matching.push_back(item.*number);
    }
    if (matching.empty() && candidates.size() == 1) return candidates;
    return matching;
}

std::vector<uint8_t> inputsIn(const Trays& t, uint8_t state) {
    return pick<InputTray>(
        t.inputs, [](const InputTray&) { return true; }, [state](const InputTray& i) { return i.state == state; },
        &InputTray::bin);
}

std::vector<uint8_t> outputsIn(const Trays& t, uint8_t state) {
    return pick<OutputTray>(
        t.outputs, [](const OutputTray&) { return true; }, [state](const OutputTray& o) { return o.state == state; },
        &OutputTray::bin);
}

bool empty(const Supply& s) { return s.value() == 0; }
bool near(const Supply& s) { return s.value() <= s.nearPercent; }

std::vector<uint8_t> suppliesWhere(const std::vector<Supply>& all, const std::function<bool(const Supply&)>& kind,
                                   bool (*inCondition)(const Supply&)) {
    return pick<Supply>(all, kind, inCondition, &Supply::index);
}

// The instances a record of `items` names.
std::vector<uint8_t> instancesOf(Items items, const Trays& trays, const std::vector<Supply>& supplies) {
    auto toner = [](const Supply& s) { return !s.receptacle && s.tonerOrInk(); };
    auto consumed = [](const Supply& s) { return !s.receptacle; };
    auto waste = [](const Supply& s) { return s.receptacle; };
    auto developer = [](const Supply& s) { return !s.receptacle && s.type == "developer"; };
    switch (items) {
    case Items::Fixed: return {};
    case Items::EmptyInput: return inputsIn(trays, kInputEmpty);
    case Items::LowInput: return inputsIn(trays, kInputLow);
    case Items::UnavailableInput: return inputsIn(trays, kInputUnavailable);
    case Items::FullOutput: return outputsIn(trays, kOutputFull);
    case Items::NearlyFullOutput: return outputsIn(trays, kOutputNearlyFull);
    case Items::EmptyToner: return suppliesWhere(supplies, toner, empty);
    case Items::LowToner: return suppliesWhere(supplies, toner, near);
    case Items::EmptySupply: return suppliesWhere(supplies, consumed, empty);
    case Items::LowSupply: return suppliesWhere(supplies, consumed, near);
    case Items::NearlyFullWaste: return suppliesWhere(supplies, waste, near);
    case Items::LowDeveloper: return suppliesWhere(supplies, developer, near);
    }
    return {};
}

void add(const ReasonRecord& r, const Trays& trays, const std::vector<Supply>& supplies, Snapshot* snapshot) {
    if (r.run == 0) return;
    if (r.items == Items::Fixed) return snapshot->addAlert(r.run, r.category, r.instance, r.condition);
    std::vector<uint8_t> instances = instancesOf(r.items, trays, supplies);
    if (instances.empty()) {
        // The supplies family has no record for "some supply": the other run tells it.
        if (r.run == kvbidi::kSupplies) return;
        instances.push_back(kNoItem);
    }
    for (uint8_t k : instances) {
        const bool above = r.conditionAbove4 != 0 && k != kNoItem && k > kLastLowInstance;
        snapshot->addAlert(r.run, r.category, k, above ? r.conditionAbove4 : r.condition);
    }
}

}  // namespace

Reason splitReason(std::string_view keyword) {
    Reason reason;
    for (size_t i = 0; i < std::size(kSuffixes); ++i) {
        const std::string_view suffix = kSuffixes[i];
        if (keyword.size() > suffix.size() && keyword.substr(keyword.size() - suffix.size()) == suffix) {
            keyword.remove_suffix(suffix.size());
            reason.severity = kSeverities[i];
            reason.suffixed = true;
            break;
        }
    }
    reason.base = keyword;
    return reason;
}

void fillReasons(const Attributes& printer, const Trays& trays, const std::vector<Supply>& supplies,
                 Snapshot* snapshot) {
    for (const std::string& keyword : textsOf(printer, "printer-state-reasons")) {
        const Reason reason = splitReason(keyword);
        if (reason.severity == Severity::Report) continue;   // informational: no current condition
        if (const ReasonRow* row = findReason(reason.base)) {
            for (const ReasonRecord& r : row->records) add(r, trays, supplies, snapshot);
        } else if (reason.base == "other" || reason.suffixed) {
            add(otherReason(reason.severity), trays, supplies, snapshot);
        } else {
            snapshot->note("printer-state-reasons: " + keyword.substr(0, 64) + " is not known");
        }
    }
}

}  // namespace kvnet::ipp
