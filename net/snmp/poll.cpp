// What a full refresh walks, what a quiet poll asks between refreshes, and
// which subtrees a quiet poll's answer shows to be stale.
#include <algorithm>
#include <set>

#include "fill.h"
#include "fill_parts.h"

namespace kvnet::snmp {
namespace {

using namespace oid;

// The subtrees whose content prtGeneralConfigChanges counts changes of.
const std::vector<Oid>& configurationRoots() {
    static const auto& roots = *new std::vector<Oid>{   // never destroyed: used on the loop until exit
        hrDeviceEntry,        hrMemorySizeObject, hrStorageEntry,       prtGeneralEntry,
        prtLocalizationEntry, prtInputEntry,      prtOutputEntry,       prtMarkerEntry,
        prtMarkerSuppliesEntry, prtMediaPathEntry, prtChannelEntry,     prtInterpreterEntry,
        prtConsoleDisplayBufferEntry, finDeviceEntry,
    };
    return roots;
}

bool sameValue(const Value& a, const Value& b) {
    return a.type == b.type && a.number == b.number && a.bytes == b.bytes && a.oid == b.oid;
}

// The rows of a (device, index) table the view has.
std::vector<uint32_t> rowsOf(const MibView& view, const Oid& entry, uint32_t device) {
    std::set<uint32_t> found;
    for (const Oid& suffix : view.indexes(entry))
        if (suffix.size() == 3 && suffix[1] == device) found.insert(suffix[2]);
    return {found.begin(), found.end()};
}

// The walk root holding `o` (or being it).
const Oid* rootOf(const Oid& o) {
    for (const Oid& root : walkRoots())
        if (o == root || isUnder(o, root)) return &root;
    return nullptr;
}

}  // namespace

const std::vector<Oid>& walkRoots() {
    static const auto& roots = *new std::vector<Oid>{   // never destroyed: used on the loop until exit
        systemGroup,
        hrDeviceEntry,
        hrPrinterEntry,
        hrMemorySizeObject,
        hrStorageEntry,
        prtGeneralEntry,
        prtLocalizationEntry,
        prtInputEntry,
        prtOutputEntry,
        prtMarkerEntry,
        prtMarkerSuppliesEntry,
        prtMediaPathEntry,
        prtChannelEntry,
        prtInterpreterEntry,
        prtConsoleDisplayBufferEntry,
        prtAlertEntry,
        finDeviceEntry,
        // identity: the interface that carries the printer's address, and firmware
        column(ipAddrEntry, ipAdEntIfIndex),
        column(ipAddressEntry, ipAddressIfIndex),
        column(ifEntry, ifPhysAddress),
        column(entPhysicalEntry, entPhysicalClass),
        column(entPhysicalEntry, entPhysicalFirmwareRev),
    };
    return roots;
}

std::vector<Oid> quietPoll(const MibView& view) {
    const uint32_t dev = detail::printerDevice(view);
    std::vector<Oid> oids;
    auto ask = [&](Oid o) {
        if (oids.size() < kMaxQuietPoll) oids.push_back(std::move(o));
    };
    // The counters and the status, first: what the view has, or all of them
    // before a first refresh.
    const Oid scalars[] = {
        cell(prtGeneralEntry, prtAlertAllEvents, {dev}),   cell(prtGeneralEntry, prtGeneralConfigChanges, {dev}),
        cell(hrPrinterEntry, hrPrinterDetectedErrorState, {dev}), cell(hrPrinterEntry, hrPrinterStatus, {dev}),
        cell(hrDeviceEntry, hrDeviceStatus, {dev}),        cell(prtGeneralEntry, prtConsoleDisable, {dev}),
    };
    for (const Oid& o : scalars)
        if (view.size() == 0 || view.get(o)) ask(o);

    std::vector<uint32_t> markers = rowsOf(view, prtMarkerEntry, dev);
    if (markers.empty() && view.size() == 0) markers.push_back(1);
    for (uint32_t m : markers)
        if (view.size() == 0 || view.get(cell(prtMarkerEntry, prtMarkerLifeCount, {dev, m})))
            ask(cell(prtMarkerEntry, prtMarkerLifeCount, {dev, m}));

    // Rows the last refresh saw: console lines, supply levels, input levels
    // and status, output room and status.
    struct Column {
        const Oid& entry;
        uint32_t column;
    };
    const Column moving[] = {
        {prtConsoleDisplayBufferEntry, prtConsoleDisplayBufferText},
        {prtMarkerSuppliesEntry, prtMarkerSuppliesLevel},
        {prtInputEntry, prtInputCurrentLevel},
        {prtInputEntry, prtInputStatus},
        {prtOutputEntry, prtOutputRemainingCapacity},
        {prtOutputEntry, prtOutputStatus},
    };
    for (const Column& c : moving)
        for (uint32_t row : rowsOf(view, c.entry, dev)) {
            // Supplies above 255 are left out of the fill: not worth a binding.
            if (&c.entry == &prtMarkerSuppliesEntry && row > detail::kMaxRecords) continue;
            Oid o = cell(c.entry, c.column, {dev, row});
            if (view.get(o)) ask(o);
        }
    return oids;
}

std::vector<Oid> staleRoots(const MibView& view, const std::vector<VarBind>& answer) {
    const uint32_t dev = detail::printerDevice(view);
    std::set<const Oid*> stale;
    const Oid allEvents = cell(prtGeneralEntry, prtAlertAllEvents, {dev});
    const Oid configChanges = cell(prtGeneralEntry, prtGeneralConfigChanges, {dev});
    // Without the alert counters, a change of status or error state is what
    // tells that the alert table may have changed.
    const bool counted = view.get(allEvents) != nullptr;
    const Oid statusObjects[] = {cell(hrPrinterEntry, hrPrinterDetectedErrorState, {dev}),
                                 cell(hrPrinterEntry, hrPrinterStatus, {dev}),
                                 cell(hrDeviceEntry, hrDeviceStatus, {dev})};

    const Oid* alerts = rootOf(prtAlertEntry);
    std::set<Oid> answered;
    for (const VarBind& b : answer) {
        answered.insert(b.oid);
        const Value* old = view.get(b.oid);
        bool moved = old == nullptr || !sameValue(*old, b.value);
        if (!moved) continue;
        if (b.oid == allEvents) stale.insert(alerts);
        if (!counted && std::find(std::begin(statusObjects), std::end(statusObjects), b.oid) != std::end(statusObjects))
            stale.insert(alerts);
        if (b.oid == configChanges)
            for (const Oid& root : configurationRoots()) stale.insert(rootOf(root));
        // A value of a row the view did not have: its table has a new row.
        if (old == nullptr)
            if (const Oid* r = rootOf(b.oid)) stale.insert(r);
    }
    // A row asked for and not answered is gone.
    for (const Oid& asked : quietPoll(view))
        if (!answered.count(asked))
            if (const Oid* r = rootOf(asked)) stale.insert(r);

    std::vector<Oid> out;
    for (const Oid& root : walkRoots())
        if (stale.count(&root)) out.push_back(root);
    return out;
}

}  // namespace kvnet::snmp
