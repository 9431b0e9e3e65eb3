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

std::string deviceStatusLine(const json& s) {
    return "byte 0 bit 0: " + cell(s["byte0Bit0"]) + ", byte 0 bits 6-7: " + cell(s["byte0Bits67"]) +
           ", byte 1: " + cell(s["byte1"]) + ", byte 2: " + cell(s["byte2"]);
}

namespace {

json gatherDeviceStatus(Printer& printer) {
    KVPrtObj::PRINTERSTATUS status{};
    check(printer.obj().bidiQueryDeviceStatus(&status), "bidiQueryDeviceStatus");
    return deviceStatusJson(status);
}

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
    for (size_t i = 0; i < std::size(kFamilies); ++i) families[kFamilies[i].key] = gatherAlertFamily(printer, i);
    return families;
}

void renderAlerts(const json& j, std::ostream& out) {
    Table t({"Family", "Alert", "Value", "Text"});
    for (const Family& f : kFamilies) {
        const json& alerts = j[f.key];
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

json gatherAlertFamily(Printer& printer, size_t i) {
    const Family& f = kFamilies[i];
    unsigned int count = 0;
    KVPrtObj::KVPALERTDATA* list = nullptr;
    long rc = (printer.obj().*f.query)(&count, &list);
    json alerts = json::array();
    for (unsigned a = 0; a < count; ++a)
        alerts.push_back({{"id", list[a].usAlertId},
                          {"value", list[a].usAlertValue},
                          {"text", alertText(list[a].usAlertId, list[a].usAlertValue)}});
    ::operator delete(list);
    return rc == 0 ? alerts : json{{"error", partialFailure(Failure(f.operation, rc))}};
}

const Section kDeviceStatusSection = {"deviceStatus", "Device status", gatherDeviceStatus, renderDeviceStatus};
const Section kAlertsSection = {"alerts", "Alerts", gatherAlerts, renderAlerts};

void addStatusCommands(CLI::App& app, Context& ctx) {
    addSectionCommand(app, ctx, "status", "Device status and the alerts of every family",
                      {&kDeviceStatusSection, &kAlertsSection});
}

}  // namespace kvprt
