// Alerts as they arrive (command watch): the engine announces each new alert
// with its id and family (BceWaitAlert); the printer object's alert
// operation of that family reads and decodes its data.
#include <unistd.h>

#include <chrono>
#include <iterator>
#include <iostream>
#include <memory>
#include <sstream>

#include "arguments.h"
#include "command.h"
#include "interrupt.h"
#include "records.h"

namespace kvprt {
namespace {

json decodeDeviceStatus(Printer& p, unsigned short id) {
    KVPrtObj::PRINTERSTATUS status{};
    check(p.obj().bidiQueryDSAAlert(id, &status), "bidiQueryDSAAlert");
    return deviceStatusJson(status);
}

json decodeJobStatus(Printer& p, unsigned short id) {
    JSALERTDATA data(3);   // every part of the alert: both counter blocks and the values
    check(p.obj().bidiJSQueryAlert(id, data), "bidiJSQueryAlert");
    json inputs = json::array(), values = json::array();
    for (unsigned i = 1; data.m_pInputData != nullptr && i <= data.m_wInputCount; ++i) {
        const auto& in = data.m_pInputData[i];   // record 0 is never filled
        inputs.push_back({{"counter1", in.dwCounter1}, {"counter2", in.dwCounter2}, {"counter3", in.dwCounter3},
                          {"counter4", in.dwCounter4}, {"counter5", in.dwCounter5}});
    }
    for (unsigned i = 1; data.m_pValueData != nullptr && i <= data.m_wValueCount; ++i)
        values.push_back({{"id", data.m_pValueData[i].byValueId}, {"value", data.m_pValueData[i].dwValue}});
    return {{"headerA", data.m_wHeaderA},
            {"headerB", data.m_wHeaderB},
            {"headerC", data.m_wHeaderC},
            {"statusByte", data.m_dwStatusByte},
            {"text", utf8(data.m_strText)},
            {"info",
             {{"HT", utf8(data.strHT)}, {"UR", utf8(data.strUR)}, {"SC", utf8(data.strSC)}, {"JN", utf8(data.strJN)},
              {"QU", utf8(data.strQU)}, {"LS", utf8(data.strLS)}}},
            {"inputs", inputs},
            {"valueTag", data.m_byValueTag},
            {"values", values}};
}

json decodePanel(Printer& p, unsigned short id) {
    void* raw = nullptr;
    long rc = p.obj().bidiROPQueryAlert(id, &raw);
    std::unique_ptr<KVPrtObj::OPPANELDATA> panel(static_cast<KVPrtObj::OPPANELDATA*>(raw));
    check(rc, "bidiROPQueryAlert");
    return panelJson(*panel);
}

json decodeJobTransition(Printer& p, unsigned short id) {
    KVPrtObj::KVPJOBDATA job;
    check(p.obj().bidiQueryJobTranAlert(id, &job), "bidiQueryJobTranAlert");
    return jobJson(job);
}

json decodeVariableEvent(Printer& p, unsigned short id) {
    KVPrtObj::OMVAREVENTDATA event;
    check(p.obj().bidiQueryOMVarEventAlert(id, &event), "bidiQueryOMVarEventAlert");
    std::unique_ptr<uint8_t, void (*)(void*)> value(event.pbyData, [](void* d) { ::operator delete(d); });
    if (event.byEventType != 9) return {{"eventType", event.byEventType}, {"byte", event.byValue}};
    // The record keeps no length: the value is what follows 03 40 09 and the
    // id. The length comes from the object's raw alert read (of any family),
    // which a batch answers too: kvprtd decodes on the engine's I/O thread,
    // where a synchronous engine call is refused.
    unsigned char* raw = nullptr;
    unsigned long length = 0;
    long rc = p.obj().bidiQueryTonerAlert(id, raw, length);
    ::operator delete(raw);
    size_t valueLength = rc == 0 && length > 5 ? length - 5 : 0;
    json j = {{"eventType", 9}, {"id", hexBytes(event.abyVarId, 2)}};
    j.update(valueJson(event.pbyData, valueLength));
    return j;
}

json decodeToner(Printer& p, unsigned short id) {
    KvTonerPrediction prediction(&p.obj());
    KvTonerPrediction::TonerInfoArray supplies;
    check(prediction.GetTonerAlertData(id, supplies), "GetTonerAlertData");
    return tonerJson(tonerList(supplies));
}

json decodeDeviceManagement(Printer& p, unsigned short id) {
    KVPrtObj::DEVICEMGMTALERTDATA alert;
    check(p.obj().bidiDeviceQueryAlert(id, &alert), "bidiDeviceQueryAlert");
    static const char* const kOperations[] = {"none", "listing", "format", "delete", "copy"};
    const bool copy = alert.byOperation == alert.OP_COPY;
    json j = {{"operation", alert.byOperation < std::size(kOperations) ? kOperations[alert.byOperation] : "none"},
              {"device", deviceWord(alert.eDevice)},
              {"source", copy ? json(deviceWord(alert.eSourceDevice)) : json(nullptr)},
              {"file", alert.strFileName.empty() ? json(nullptr) : json(utf8(alert.strFileName))},
              {"directory", nullptr}};
    if (alert.byOperation == alert.OP_LISTING) {
        KVPrtObj::DEVICEDIRECTORYDATA directory;
        check(p.obj().parseDeviceDirectoryData(alert.strDirectoryData, &directory), "parseDeviceDirectoryData");
        j["directory"] = directoryJson(directory);
    }
    return j;
}

std::string panelLine(const json& d) {
    std::string text;
    for (const json& line : d["lines"])
        if (!line.get<std::string>().empty()) text += (text.empty() ? "" : " | ") + line.get<std::string>();
    return text;
}

// The job's personal fields: its name, its user and their host.
void withholdJobInfo(json& d) {
    for (const char* key : {"JN", "UR", "HT"}) d["info"][key] = nullptr;
}

std::string jobStatusLine(const json& d) {
    const std::string job = d["info"]["JN"].is_null() ? "a job"
                                                      : "job \"" + cell(d["info"]["JN"]) + "\" of " + cell(d["info"]["UR"]);
    return job + ": " + cell(d["text"]) +
           " (status byte " + cell(d["statusByte"]) + ", " + std::to_string(d["inputs"].size()) + " inputs, " +
           std::to_string(d["values"].size()) + " values)";
}

std::string jobLine(const json& d) {
    return "job " + cell(d["number"]) + " (byte 0: " + cell(d["byte0"]) + ", byte 4: " + cell(d["byte4"]) + ")";
}

std::string variableLine(const json& d) {
    if (d["eventType"] != 9) return "event byte " + cell(d["byte"]);
    return "variable " + cell(d["id"]) + " = " + (d["text"].is_null() ? cell(d["value"]) : "\"" + cell(d["text"]) + "\"");
}

std::string tonerLine(const json& d) {
    std::string text;
    for (const json& s : d)
        text += (text.empty() ? "" : "; ") + std::string("supply ") + cell(s["supply"]) + " level " + cell(s["level"]) +
                " of " + cell(s["levelCount"]) + ", estimate " +
                (s["estimate"].is_null() ? "unknown" : cell(s["estimate"]) + " pages");
    return text.empty() ? "no supplies" : text;
}

std::string deviceManagementLine(const json& d) {
    const std::string op = d["operation"], device = cell(d["device"]);
    if (op == "listing")
        return "listing of " + device + ": " + std::to_string(d["directory"]["files"].size()) + " files, " +
               cell(d["directory"]["free"]) + " of " + cell(d["directory"]["capacity"]) + " bytes free";
    if (op == "format") return device + " formatted";
    if (op == "delete") return cell(d["file"]) + " deleted from " + device;
    if (op == "copy") return cell(d["file"]) + " copied from " + cell(d["source"]) + " to " + device;
    return "operation " + op + " on " + device;
}

// The alert families the engine announces, with the operation that decodes each.
struct AlertFamily {
    unsigned long family;
    const char* key;
    const char* title;
    json (*decode)(Printer&, unsigned short);
    std::string (*line)(const json&);
    void (*withhold)(json&) = nullptr;   // removes what names a person or a document
};

const AlertFamily kAlertFamilies[] = {
    {0x5F4, "deviceStatus", "device status", decodeDeviceStatus, deviceStatusLine},
    {0x5F6, "jobStatus", "job status", decodeJobStatus, jobStatusLine, withholdJobInfo},
    {0x5F7, "operatorPanel", "operator panel", decodePanel, panelLine},
    {0x5FD, "jobTransition", "job transition", decodeJobTransition, jobLine},
    {0x5FE, "variableEvent", "variable event", decodeVariableEvent, variableLine},
    {0x600, "toner", "toner", decodeToner, tonerLine},
    {KVPRM_ALERT_FAMILY, "deviceManagement", "device management", decodeDeviceManagement, deviceManagementLine},
};

const AlertFamily* familyOf(unsigned long family) {
    for (const AlertFamily& candidate : kAlertFamilies)
        if (candidate.family == family) return &candidate;
    return nullptr;
}

// Prints one alert; false when its data could not be decoded.
bool showAlert(Context& ctx, Printer& printer, unsigned short id, unsigned long family) {
    AlertReading alert = readAlert(printer, id, family);
    if (ctx.jsonOutput) {
        std::cout << jsonText(alert.event, -1) << '\n';   // one object per line, as the alerts come
    } else {
        const AlertFamily* f = familyOf(family);
        std::cout << escapeControls("alert " + std::to_string(id) + " (" + (f ? f->title : "?") + "): " + alert.line)
                  << '\n';
    }
    std::cout.flush();
    return alert.ok;
}

std::string seconds(double value) {
    std::ostringstream text;
    text << value << " s";
    return text.str();
}

int watch(Context& ctx, unsigned count, double timeoutSeconds) {
    catchInterrupts();   // before the printer is opened, so that no thread of ours takes the signals
    onInterrupt([] {});  // the loop below sees interrupted() and ends
    Printer& printer = ctx.printer();
    if (!ctx.jsonOutput && isatty(STDERR_FILENO))
        std::cerr << "Waiting for alerts from " << printer.uri() << " (Ctrl-C stops)\n";

    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    unsigned seen = 0;
    int status = kExitOk;
    while (!interrupted() && (count == 0 || seen < count)) {
        unsigned short id = 0;
        unsigned long family = 0;
        long rc = BceWaitAlert(printer.handle(), 200, &id, &family);
        if (rc == BCE_E_NO_ALERT) {
            std::chrono::duration<double> quiet = Clock::now() - last;
            if (timeoutSeconds > 0 && quiet.count() >= timeoutSeconds)
                throw Failure("BceWaitAlert", rc, "none for " + seconds(timeoutSeconds));
            continue;
        }
        check(rc, "BceWaitAlert");
        if (!showAlert(ctx, printer, id, family)) status = kExitFailed;
        ++seen;
        last = Clock::now();
    }
    return status;
}

}  // namespace

AlertReading readAlert(Printer& printer, unsigned short id, unsigned long family, bool personal) {
    const AlertFamily* f = familyOf(family);
    AlertReading r;
    r.familyName = f ? f->key : nullptr;
    r.event = {{"alertId", id}, {"family", family}, {"familyName", f ? json(f->key) : json(nullptr)}};
    if (f == nullptr) {
        r.event["data"] = nullptr;
        r.line = "unknown family " + std::to_string(family);
        r.ok = true;
        return r;
    }
    try {
        r.event["data"] = f->decode(printer, id);
        if (!personal && f->withhold) f->withhold(r.event["data"]);
        r.line = f->line(r.event["data"]);
        r.ok = true;
    } catch (const Failure& failure) {
        r.event["data"] = nullptr;
        r.event["error"] = partialFailure(failure);
        r.line = "unreadable: " + failure.message();
    }
    return r;
}

void addWatchCommand(CLI::App& app, Context& ctx) {
    static unsigned count = 0;
    static double timeout = 0;
    CLI::App* cmd = app.add_subcommand("watch", "Print alerts as they arrive, until interrupted");
    cmd->add_option("--count", count, "Stop after this many alerts")->transform(kNumber);
    cmd->add_option("--timeout", timeout, "Give up (exit status 1) when no alert comes for this many seconds")
        ->check(kSeconds);
    cmd->callback([&ctx] {
        ctx.jsonLines = true;
        ctx.action = [&ctx] { return watch(ctx, count, timeout); };
    });
}

}  // namespace kvprt
