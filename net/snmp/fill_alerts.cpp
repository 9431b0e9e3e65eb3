// The alert runs (requests 6 to 11): prtAlertTable rows first, then the bits
// of hrPrinterDetectedErrorState that no row reports better, then (on devices
// without an alert table) supplies low or empty from their levels. The
// records come from alert_table.cpp; one record key from two sources gives
// one record (Snapshot::addAlert).
#include <limits>

#include "fill_parts.h"

namespace kvnet::snmp::detail {
namespace {

using alertmap::Subject;

constexpr uint16_t kRuns[] = {alertmap::kJams, alertmap::kOperator, alertmap::kWarnings,
                              alertmap::kService, alertmap::kConfig, alertmap::kSupplies};

// A group index within a record's instance byte, or -1.
int byteItem(int64_t index) { return index >= 1 && index <= 255 ? static_cast<int>(index) : -1; }

// What an alert row's group index names, in the library's numbering.
alertmap::AlertEvent eventOf(const Printer& p, const AlertRow& a) {
    alertmap::AlertEvent e{a.severity, a.training, a.group, a.code, Subject::None, -1};
    switch (a.group) {
    case oid::input:
        e.subject = Subject::Input;
        if (const Input* in = p.inputByIndex(a.groupIndex)) e.item = in->number;
        break;
    case oid::output:
        e.subject = Subject::Output;
        if (const Output* out = p.outputByIndex(a.groupIndex)) e.item = out->number;
        break;
    case oid::markerSupplies:
        e.subject = Subject::OtherSupply;
        if (const Supply* s = p.supplyByIndex(a.groupIndex)) e.subject = s->kind;
        e.item = byteItem(a.groupIndex);
        break;
    case oid::mediaPath: {
        auto type = a.groupIndex > 0 && a.groupIndex <= std::numeric_limits<uint32_t>::max()
                        ? p.number(oid::prtMediaPathEntry, oid::prtMediaPathType, {static_cast<uint32_t>(a.groupIndex)})
                        : std::nullopt;
        bool duplex = type == oid::longEdgeBindingDuplex || type == oid::shortEdgeBindingDuplex;
        e.subject = duplex ? Subject::DuplexPath : Subject::OtherPath;
        break;
    }
    case oid::hostResourcesMIBStorageTable: {
        e.subject = Subject::OtherStorage;
        if (a.groupIndex < 0 || a.groupIndex > std::numeric_limits<uint32_t>::max()) break;
        const Value* type = p.view.get(oid::cell(oid::hrStorageEntry, oid::hrStorageType,
                                                 {static_cast<uint32_t>(a.groupIndex)}));
        if (!type || type->type != Value::Type::ObjectId) break;
        if (type->oid == oid::hrStorageFixedDisk) e.subject = Subject::Disk;
        else if (type->oid == oid::hrStorageFlashMemory) e.subject = Subject::Flash;
        else if (type->oid == oid::hrStorageRam) e.subject = Subject::Memory;
        break;
    }
    case oid::finDevice: case oid::finSupply: case oid::finSupplyMediaInput: case oid::finAttribute:
        e.subject = Subject::Finisher;
        e.item = byteItem(a.groupIndex);
        break;
    default: break;
    }
    return e;
}

// The inputs or outputs an error-state bit names, from their status records.
std::vector<int> itemsOf(const Printer& p, alertmap::ErrorBitRule::Items items) {
    using Items = alertmap::ErrorBitRule::Items;
    std::vector<int> out;
    for (const Input& in : p.inputs) {
        unsigned state = in.status.status & 7;
        bool named = (items == Items::EmptyInputs && in.status.present && state == 0) ||
                     (items == Items::LowInputs && in.status.present && state == 1) ||
                     (items == Items::MissingInputs && !in.status.present);
        if (named) out.push_back(in.number);
    }
    for (const Output& o : p.outputs) {
        unsigned state = o.status.status & 7;
        if ((items == Items::NearFullOutputs && state == 6) || (items == Items::FullOutputs && state == 7))
            out.push_back(o.number);
    }
    return out;
}

void add(Printer& p, const std::vector<alertmap::Record>& records) {
    for (const alertmap::Record& r : records) p.snapshot.addAlert(r.run, r.category, r.instance, r.condition);
}

}  // namespace

void fillAlerts(Printer& p) {
    if (p.hasAlertTable || p.errorState)
        for (uint16_t run : kRuns) p.snapshot.answer(run);

    for (const AlertRow& a : p.alerts) add(p, alertmap::mapAlert(eventOf(p, a)));

    if (p.errorState)
        for (const alertmap::ErrorBitRule& rule : alertmap::errorBitRules()) {
            if (!p.errorBit(rule.bit)) continue;
            // An alert row tells the same condition with its place.
            if (p.hasCurrentAlert(rule.coveredBy)) continue;
            add(p, alertmap::mapErrorBit(rule, itemsOf(p, rule.items)));
        }

    // Without an alert table the levels tell supplies low (below 10 %) or empty.
    if (p.hasAlertTable || p.supplies.empty()) return;
    p.snapshot.answer(alertmap::kSupplies);
    for (const Supply& s : p.supplies) {
        Level level = s.reading();
        if (level.kind != LevelKind::Measured || level.percent >= 10) continue;
        bool empty = level.percent == 0 && !s.receptacle();
        add(p, alertmap::supplyRecords(s.kind, static_cast<int>(s.index),
                                       empty ? alertmap::SupplyState::Empty : alertmap::SupplyState::Low));
    }
}

}  // namespace kvnet::snmp::detail
