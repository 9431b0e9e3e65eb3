// The printer's current state: device status and the alerts of every alert
// family, each alert with its display text (command status).
#include <iterator>

#include "command.h"
#include "records.h"
#include "texts.h"

namespace kvprt {

json deviceStatusJson(const KVPrtObj::PRINTERSTATUS& s) {
    // Bit fields do not bind to references: copy them out first.
    unsigned bit0 = s.uStatusByte0Bit0, bits67 = s.uStatusByte0Bits67, byte1 = s.uStatusByte1, byte2 = s.uStatusByte2;
    return {{"byte0Bit0", bit0}, {"byte0Bits67", bits67}, {"byte1", byte1}, {"byte2", byte2}};
}

namespace {

// The meanings of the status bytes (docs/realprinters.md).
const char* const kActivities[] = {"idle", "printing", "warming up", "busy"};
const char* const kConditions[] = {"needs attention", "paper jam", "warning", "service requested"};
const char* const kDeviceStates[] = {"", "device state unknown", "device running", "device warning",
                                     "device testing", "device down"};

}  // namespace

std::string deviceStatusLine(const json& s) {
    std::string line = s["byte0Bit0"].get<unsigned>() ? "Ready" : "Not ready";
    line += std::string(", ") + kActivities[s["byte0Bits67"].get<unsigned>() & 3];
    unsigned conditions = s["byte1"].get<unsigned>();
    for (unsigned bit = 0; bit < std::size(kConditions); ++bit)
        if (conditions & (1u << bit)) line += std::string("; ") + kConditions[bit];
    unsigned device = s["byte2"].get<unsigned>();
    if (device > 0 && device < std::size(kDeviceStates)) line += std::string("; ") + kDeviceStates[device];
    return line;
}

namespace {

json gatherDeviceStatus(Printer& printer) { return deviceStatusJson(readDeviceStatus(printer.obj()).get()); }

void renderDeviceStatus(const json& j, std::ostream& out) { out << "  " << deviceStatusLine(j) << '\n'; }

using ListQuery = long (KVPrtObj::*)(unsigned int*, KVPrtObj::KVPALERTDATA**);

// The alert families, in the order they are shown.
struct Family {
    const char* key;
    const char* title;
    const char* operation;
    ListQuery query;
};

const Family kFamilies[] = {
    {"inputStatus", "Input status", "bidiQueryInputStatus", &KVPrtObj::bidiQueryInputStatus},
    {"outputStatus", "Output status", "bidiQueryOutputStatus", &KVPrtObj::bidiQueryOutputStatus},
    {"paperJams", "Paper jams", "bidiQueryPaperJams", &KVPrtObj::bidiQueryPaperJams},
    {"operatorIntervention", "Operator intervention", "bidiQueryOperatorIV", &KVPrtObj::bidiQueryOperatorIV},
    {"warnings", "Warnings", "bidiQueryWarnings", &KVPrtObj::bidiQueryWarnings},
    {"serviceRequired", "Service required", "bidiQueryServiceReq", &KVPrtObj::bidiQueryServiceReq},
    {"configChanges", "Configuration changes", "bidiQueryConfigChg", &KVPrtObj::bidiQueryConfigChg},
    {"supplies", "Supplies", "bidiQuerySupplies", &KVPrtObj::bidiQuerySupplies},
    {"suppliesStatus", "Supplies status", "bidiQuerySuppliesStatus", &KVPrtObj::bidiQuerySuppliesStatus},
};

// Every family's alerts; a family whose query fails holds its error instead
// of a list, and the others are still asked.
json gatherAlerts(Printer& printer) {
    json families = json::object();
    for (size_t i = 0; i < std::size(kFamilies); ++i) {
        Reading<AlertList> family = readAlertFamily(printer.obj(), i);
        if (!family.ok() && family.rc != BCE_E_INVALID) {
            families[kFamilies[i].key] = {{"error", partialFailure(Failure(family.operation, family.rc))}};
            continue;
        }
        families[kFamilies[i].key] = readingJson(family, alertListJson);
    }
    return families;
}

void renderAlerts(const json& j, std::ostream& out) {
    Table t({"Family", "Alert", "Value", "Text"});
    for (const Family& f : kFamilies) {
        const json& alerts = j[f.key];
        if (isUnavailable(alerts)) {
            t.add({f.title, "-", "-", kNotAvailable});
            continue;
        }
        if (alerts.is_object()) {
            t.add({f.title, "-", "-", "unavailable: " + alerts["error"]["message"].get<std::string>()});
            continue;
        }
        for (const json& a : alerts) t.add({f.title, cell(a["id"]), cell(a["value"]), cell(a["text"])});
    }
    if (t.empty())
        out << "  No alerts.\n";
    else
        t.print(out);
}

}  // namespace

size_t alertFamilyCount() { return std::size(kFamilies); }
const char* alertFamilyKey(size_t i) { return kFamilies[i].key; }

Reading<KVPrtObj::PRINTERSTATUS> readDeviceStatus(KVPrtObj& obj) {
    Reading<KVPrtObj::PRINTERSTATUS> r{0, "bidiQueryDeviceStatus"};
    r.rc = obj.bidiQueryDeviceStatus(&r.value);
    return r;
}

Reading<AlertList> readAlertFamily(KVPrtObj& obj, size_t i) {
    const Family& f = kFamilies[i];
    Reading<AlertList> r{0, f.operation};
    unsigned int count = 0;
    KVPrtObj::KVPALERTDATA* list = nullptr;
    r.rc = (obj.*f.query)(&count, &list);
    for (unsigned a = 0; a < count; ++a) r.value.push_back({list[a].usAlertId, list[a].usAlertValue});
    ::operator delete(list);
    if (r.rc != 0) r.value.clear();
    return r;
}

json alertListJson(const AlertList& alerts) {
    json list = json::array();
    for (const AlertRecord& a : alerts)
        list.push_back({{"id", a.id}, {"value", a.value}, {"text", alertText(a.id, a.value)}});
    return list;
}

const Section kDeviceStatusSection = {"deviceStatus", "Device status", gatherDeviceStatus, renderDeviceStatus};
const Section kAlertsSection = {"alerts", "Alerts", gatherAlerts, renderAlerts};

void addStatusCommands(CLI::App& app, Context& ctx) {
    addSectionCommand(app, ctx, "status", "Device status and the alerts of every family",
                      {&kDeviceStatusSection, &kAlertsSection});
}

}  // namespace kvprt
