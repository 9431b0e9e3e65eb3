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

// An announced alert's data: its JSON and its summary in words, from one record.
// Without `personal`, the job's name, user and host are left out of both.
struct AlertPart {
    json data;
    std::string line;
};

AlertPart decodeDeviceStatus(Printer& p, unsigned short id, bool) {
    KVPrtObj::PRINTERSTATUS status{};
    check(p.obj().bidiQueryDSAAlert(id, &status), "bidiQueryDSAAlert");
    return {deviceStatusJson(status), deviceStatusLine(status)};
}

AlertPart decodeJobStatus(Printer& p, unsigned short id, bool personal) {
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
    auto item = [personal](const CString& text) { return personal ? json(utf8(text)) : json(nullptr); };
    AlertPart a;
    a.data = {{"headerA", data.m_wHeaderA},
              {"headerB", data.m_wHeaderB},
              {"headerC", data.m_wHeaderC},
              {"statusByte", data.m_dwStatusByte},
              {"text", utf8(data.m_strText)},
              {"info",
               {{"HT", item(data.strHT)}, {"UR", item(data.strUR)}, {"SC", utf8(data.strSC)}, {"JN", item(data.strJN)},
                {"QU", utf8(data.strQU)}, {"LS", utf8(data.strLS)}}},
              {"inputs", inputs},
              {"valueTag", data.m_byValueTag},
              {"values", values}};
    const std::string job = personal ? "job \"" + utf8(data.strJN) + "\" of " + utf8(data.strUR) : "a job";
    a.line = job + ": " + utf8(data.m_strText) + " (status byte " + std::to_string(data.m_dwStatusByte) + ", " +
             std::to_string(inputs.size()) + " inputs, " + std::to_string(values.size()) + " values)";
    return a;
}

AlertPart decodePanel(Printer& p, unsigned short id, bool) {
    void* raw = nullptr;
    long rc = p.obj().bidiROPQueryAlert(id, &raw);
    std::unique_ptr<KVPrtObj::OPPANELDATA> panel(static_cast<KVPrtObj::OPPANELDATA*>(raw));
    check(rc, "bidiROPQueryAlert");
    std::string text;
    for (const std::string& line : panelLines(*panel))
        if (!line.empty()) text += (text.empty() ? "" : " | ") + line;
    return {panelJson(*panel), text};
}

AlertPart decodeJobTransition(Printer& p, unsigned short id, bool) {
    KVPrtObj::KVPJOBDATA job;
    check(p.obj().bidiQueryJobTranAlert(id, &job), "bidiQueryJobTranAlert");
    return {jobJson(job), jobLine(job)};
}

AlertPart decodeVariableEvent(Printer& p, unsigned short id, bool) {
    KVPrtObj::OMVAREVENTDATA event;
    check(p.obj().bidiQueryOMVarEventAlert(id, &event), "bidiQueryOMVarEventAlert");
    std::unique_ptr<uint8_t, void (*)(void*)> value(event.pbyData, [](void* d) { ::operator delete(d); });
    if (event.byEventType != 9)
        return {{{"eventType", event.byEventType}, {"byte", event.byValue}}, "event byte " + std::to_string(event.byValue)};
    // The record keeps no length: the value is what follows 03 40 09 and the
    // id. The length comes from the object's raw alert read (of any family),
    // which a batch answers too: kvprtd decodes on the engine's I/O thread,
    // where a synchronous engine call is refused.
    unsigned char* raw = nullptr;
    unsigned long length = 0;
    long rc = p.obj().bidiQueryTonerAlert(id, raw, length);
    ::operator delete(raw);
    size_t valueLength = rc == 0 && length > 5 ? length - 5 : 0;
    const std::string varId = hexBytes(event.abyVarId, 2);
    json j = {{"eventType", 9}, {"id", varId}};
    json v = valueJson(event.pbyData, valueLength);
    const std::string shown = v["text"].is_null() ? v["value"].get<std::string>() : "\"" + v["text"].get<std::string>() + "\"";
    j.update(v);
    return {j, "variable " + varId + " = " + shown};
}

AlertPart decodeToner(Printer& p, unsigned short id, bool) {
    KvTonerPrediction prediction(&p.obj());
    KvTonerPrediction::TonerInfoArray supplies;
    check(prediction.GetTonerAlertData(id, supplies), "GetTonerAlertData");
    TonerList list = tonerList(supplies);
    std::string text;
    for (const KvTonerPrediction::TonerInfo& t : list)
        text += (text.empty() ? "" : "; ") + std::string("supply ") + std::to_string(t.bySupplyId) + " at " +
                levelWords(t) + ", estimate " + estimateWords(t);
    return {tonerJson(list), text.empty() ? "no supplies" : text};
}

AlertPart decodeDeviceManagement(Printer& p, unsigned short id, bool) {
    KVPrtObj::DEVICEMGMTALERTDATA alert;
    check(p.obj().bidiDeviceQueryAlert(id, &alert), "bidiDeviceQueryAlert");
    static const char* const kOperations[] = {"none", "listing", "format", "delete", "copy"};
    const std::string op = alert.byOperation < std::size(kOperations) ? kOperations[alert.byOperation] : "none";
    const bool copy = alert.byOperation == alert.OP_COPY;
    const std::string device = deviceWord(alert.eDevice), file = utf8(alert.strFileName);
    json j = {{"operation", op},
              {"device", device},
              {"source", copy ? json(deviceWord(alert.eSourceDevice)) : json(nullptr)},
              {"file", file.empty() ? json(nullptr) : json(file)},
              {"directory", nullptr}};
    if (alert.byOperation == alert.OP_LISTING) {
        KVPrtObj::DEVICEDIRECTORYDATA directory;
        check(p.obj().parseDeviceDirectoryData(alert.strDirectoryData, &directory), "parseDeviceDirectoryData");
        j["directory"] = directoryJson(directory);
        return {j, "listing of " + device + ": " + std::to_string(directory.aFiles.size()) + " files, " +
                       std::to_string(directory.ullFreeSpace) + " of " + std::to_string(directory.ullCapacity) +
                       " bytes free"};
    }
    const std::string name = file.empty() ? "-" : file;
    if (op == "format") return {j, device + " formatted"};
    if (op == "delete") return {j, name + " deleted from " + device};
    if (op == "copy") return {j, name + " copied from " + deviceWord(alert.eSourceDevice) + " to " + device};
    return {j, "operation " + op + " on " + device};
}

// The alert families the engine announces, with the operation that decodes each.
struct AlertFamily {
    unsigned long family;
    const char* key;
    const char* title;
    AlertPart (*decode)(Printer&, unsigned short, bool personal);
};

const AlertFamily kAlertFamilies[] = {
    {0x5F4, "deviceStatus", "device status", decodeDeviceStatus},
    {0x5F6, "jobStatus", "job status", decodeJobStatus},
    {0x5F7, "operatorPanel", "operator panel", decodePanel},
    {0x5FD, "jobTransition", "job transition", decodeJobTransition},
    {0x5FE, "variableEvent", "variable event", decodeVariableEvent},
    {0x600, "toner", "toner", decodeToner},
    {KVPRM_ALERT_FAMILY, "deviceManagement", "device management", decodeDeviceManagement},
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
        AlertPart part = f->decode(printer, id, personal);
        r.event["data"] = std::move(part.data);
        r.line = std::move(part.line);
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
