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
    return {{"byte0Bit0", bit0}, {"byte0Bits67", bits67}, {"byte1", byte1}, {"byte2", byte2}, {"text", deviceStatusLine(s)}};
}

namespace {

// The meanings of the status bytes (docs/realprinters.md).
const char* const kActivities[] = {"idle", "printing", "warming up", "busy"};
const char* const kConditions[] = {"needs attention", "paper jam", "warning", "service requested"};
const char* const kDeviceStates[] = {"", "device state unknown", "device running", "device warning",
                                     "device testing", "device down"};

}  // namespace

std::string deviceStatusLine(const KVPrtObj::PRINTERSTATUS& s) {
    std::string line = s.uStatusByte0Bit0 ? "Ready" : "Not ready";
    line += std::string(", ") + kActivities[s.uStatusByte0Bits67 & 3];
    for (unsigned bit = 0; bit < std::size(kConditions); ++bit)
        if (s.uStatusByte1 & (1u << bit)) line += std::string("; ") + kConditions[bit];
    unsigned device = s.uStatusByte2;
    if (device > 0 && device < std::size(kDeviceStates)) line += std::string("; ") + kDeviceStates[device];
    return line;
}

namespace {

Part gatherDeviceStatus(Printer& printer) {
    return partOf(readDeviceStatus(printer.obj()).get(), deviceStatusJson,
                  [](const KVPrtObj::PRINTERSTATUS& s, std::ostream& out) { out << "  " << deviceStatusLine(s) << '\n'; });
}

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

// An input source's state (alert 6209, value source << 8 | state) is listed by
// the library for every source that is not empty. "Has paper" is the healthy
// state: it is no alert, and is left out (docs/simulator.md, input trays).
constexpr unsigned short kInputSourceState = 6209;
constexpr unsigned kStateMask = 0xFF, kHasPaper = 2;

bool isHealthySource(const KVPrtObj::KVPALERTDATA& a) {
    return a.usAlertId == kInputSourceState && (a.usAlertValue & kStateMask) == kHasPaper;
}

void renderAlerts(const AlertFamilies& families, std::ostream& out) {
    Table t({"Family", "Alert", "Value", "Text"});
    for (size_t i = 0; i < families.size(); ++i) {
        const Reading<AlertList>& family = families[i];
        if (family.rc == BCE_E_INVALID)
            t.add({kFamilies[i].title, "-", "-", kNotAvailable});
        else if (!family.ok())
            t.add({kFamilies[i].title, "-", "-", "unavailable: " + Failure(family.operation, family.rc).message()});
        for (const AlertRecord& a : family.value)
            t.add({kFamilies[i].title, std::to_string(a.id), std::to_string(a.value), alertText(a.id, a.value)});
    }
    if (t.empty())
        out << "  No alerts.\n";
    else
        t.print(out);
}

// Every family's alerts; a family whose query fails holds its error instead
// of a list, and the others are still asked.
Part gatherAlerts(Printer& printer) {
    AlertFamilies families;
    for (size_t i = 0; i < std::size(kFamilies); ++i) {
        families.push_back(readAlertFamily(printer.obj(), i));
        const Reading<AlertList>& family = families.back();
        if (!family.ok() && family.rc != BCE_E_INVALID) partialFailure(Failure(family.operation, family.rc));
    }
    return partOf(std::move(families), alertFamiliesJson, renderAlerts);
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
    for (unsigned a = 0; a < count; ++a)
        if (!isHealthySource(list[a])) r.value.push_back({list[a].usAlertId, list[a].usAlertValue});
    ::operator delete(list);
    if (r.rc != 0) r.value.clear();
    return r;
}

json alertFamiliesJson(const AlertFamilies& families) {
    json j = json::object();
    for (size_t i = 0; i < families.size() && i < std::size(kFamilies); ++i)
        j[kFamilies[i].key] = readingJson(families[i], alertListJson);
    return j;
}

json alertListJson(const AlertList& alerts) {
    json list = json::array();
    for (const AlertRecord& a : alerts)
        list.push_back({{"id", a.id}, {"value", a.value}, {"text", alertText(a.id, a.value)}});
    return list;
}

const Section kDeviceStatusSection = {"deviceStatus", "Device status", gatherDeviceStatus};
const Section kAlertsSection = {"alerts", "Alerts", gatherAlerts};

void addStatusCommands(CLI::App& app, Context& ctx) {
    addSectionCommand(app, ctx, "status", "Device status and the alerts of every family",
                      {&kDeviceStatusSection, &kAlertsSection});
}

}  // namespace kvprt
