// Loading and checking a JSON profile. Every section is optional; an empty
// object is a bidi-capable printer that has nothing to report.
#include "profile.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "alert_data.h"
#include "font_description.h"
#include "json_node.h"
#include "records.h"

namespace kvsim {
namespace {

// ---- identity ----

void copyText(char* dst, size_t size, const std::string& text) {
    std::memset(dst, 0, size);
    std::memcpy(dst, text.data(), std::min(text.size(), size - 1));
}

void loadIdentity(const Node& n, Profile& p) {
    n.expectObject({"model", "serial", "adapterAddress", "portName", "bidiCapable", "infoFlag15", "netTypes",
                    "localPort", "capturedLpt", "addresses", "netTypeCode", "netSubCode"});
    PRTINFO& info = p.info;
    std::string text;
    n.get("model", text, sizeof info.szModelName - 1);
    copyText(info.szModelName, sizeof info.szModelName, text);
    text.clear();
    n.get("serial", text, sizeof info.szSerialNumber - 1);
    copyText(info.szSerialNumber, sizeof info.szSerialNumber, text);
    text.clear();
    n.get("portName", text, sizeof info.szPortName - 1);
    copyText(info.szPortName, sizeof info.szPortName, text);
    if (auto a = n.find("adapterAddress")) {
        Bytes mac = a->hex(6);
        if (mac.size() != 6) a->fail("expected six bytes such as \"00:0A:1B:2C:3D:4E\"");
        std::copy(mac.begin(), mac.end(), info.abAdapterAddress);
    }
    bool bidi = true, flag15 = false, local = false;
    n.get("bidiCapable", bidi);
    n.get("infoFlag15", flag15);
    n.get("localPort", local);
    info.usFlags = static_cast<uint16_t>((bidi ? PRTINFO_BIDI_CAPABLE : 0) | (flag15 ? 0x8000 : 0));
    uint32_t bits = local ? PRTINFO_LOCAL_PORT : 0;
    if (auto types = n.find("netTypes"))
        for (const Node& t : types->items(8)) {
            uint32_t v = t.number(0x80);
            if (v == 0 || (v & (v - 1)) != 0) t.fail("expected one of the network types 0x01, 0x02, ... 0x80");
            bits |= v;
        }
    if (auto lpts = n.find("capturedLpt"))
        for (const Node& l : lpts->items(9)) {
            uint32_t v = l.number(9);
            if (v == 0) l.fail("expected a port number from 1 to 9");
            bits |= PRTINFO_CAPTURED_LPT1 << (v - 1);
        }
    if (auto kinds = n.find("addresses"))
        for (const Node& k : kinds->items(3)) {
            std::string kind = k.latin1();
            if (kind == "ip") bits |= PRTINFO_HAS_IP;
            else if (kind == "ipx") bits |= PRTINFO_HAS_IPX;
            else if (kind == "dlc") bits |= PRTINFO_HAS_DLC;
            else k.fail("expected \"ip\", \"ipx\" or \"dlc\"");
        }
    info.ulAttachment = bits;
    n.get("netTypeCode", info.usNetTypeCode);
    n.get("netSubCode", info.usNetSubCode);
}

void loadNames(const Node& n, Profile& p) {
    for (const Node& e : n.items(32)) {
        e.expectObject({"netType", "name", "address"});
        NameEntry entry;
        entry.netType = e.at("netType").number(0xFFFFFFFF);
        entry.name = e.at("name").latin1(79);
        e.get("address", entry.address, 79);
        p.names.push_back(entry);
    }
}

void loadNetAddress(const Node& n, Profile& p) {
    n.expectObject({"hostName", "address", "port"});
    std::string text;
    n.get("hostName", text, sizeof p.netAddress.szHostName - 1);
    copyText(p.netAddress.szHostName, sizeof p.netAddress.szHostName, text);
    text.clear();
    n.get("address", text, sizeof p.netAddress.szAddress - 1);
    copyText(p.netAddress.szAddress, sizeof p.netAddress.szAddress, text);
    n.get("port", p.netAddress.ulPort);
}

// ---- status and alert records ----

void loadStatusRecords(const Node& n, std::vector<StatusRecord>& out) {
    for (const Node& e : n.items(255)) {
        e.expectObject({"id", "present", "status"});
        StatusRecord r;
        r.id = static_cast<uint8_t>(e.at("id").number(0xFF));
        r.present = 1;
        e.get("present", r.present);
        e.get("status", r.status);
        out.push_back(r);
    }
}

// The runs of requests 6 to 11 by their names in the profile.
struct AlertRunName {
    const char* key;
    uint16_t code;
};
constexpr AlertRunName kAlertRuns[] = {
    {"paperJams", 0x06},       {"operatorIntervention", 0x07}, {"warnings", 0x08},
    {"serviceRequired", 0x09}, {"configChanges", 0x0A},        {"supplies", 0x0B},
};

void loadAlertRecords(const Node& n, Profile& p) {
    n.expectObject({"paperJams", "operatorIntervention", "warnings", "serviceRequired", "configChanges", "supplies",
                    "suppliesStatus"});
    for (const AlertRunName& run : kAlertRuns) {
        auto list = n.find(run.key);
        if (!list) continue;
        for (const Node& e : list->items(255)) {
            e.expectObject({"category", "instance", "condition", "extra"});
            AlertRecord r;
            r.category = static_cast<uint8_t>(e.at("category").number(0xFF));
            r.instance = static_cast<uint8_t>(e.at("instance").number(0xFF));
            r.condition = static_cast<uint8_t>(e.at("condition").number(0xFF));
            if (auto x = e.find("extra")) r.extra = x->hex(255);
            p.alertRuns[run.code].push_back(r);
        }
    }
    if (auto list = n.find("suppliesStatus"))
        for (const Node& e : list->items(255)) {
            e.expectObject({"category", "instance", "condition", "value"});
            SupplyStatusRecord r;
            r.category = static_cast<uint8_t>(e.at("category").number(0xFF));
            r.instance = static_cast<uint8_t>(e.at("instance").number(0xFF));
            r.condition = static_cast<uint8_t>(e.at("condition").number(0xFF));
            e.get("value", r.value);
            p.suppliesStatus.push_back(r);
        }
}

// ---- page counts and device characteristics ----

void loadPageCounts(const Node& n, Profile& p) {
    for (const Node& e : n.items(255)) {
        e.expectObject({"type", "count"});
        p.pageCounts.push_back({static_cast<uint8_t>(e.at("type").number(0xFF)), e.at("count").number(0xFFFFFFFF)});
    }
}

void loadDeviceChars(const Node& n, Profile& p) {
    n.expectObject({"byte2", "byte7", "byte11", "memoryBytes", "text1", "codeLevel", "text3"});
    DeviceChars& d = p.deviceChars;
    n.get("byte2", d.byte2);
    n.get("byte7", d.byte7);
    n.get("byte11", d.byte11);
    n.get("memoryBytes", d.memoryBytes);
    n.get("text1", d.text1);
    n.get("codeLevel", d.codeLevel);
    n.get("text3", d.text3);
}

void loadInputBins(const Node& n, Profile& p) {
    for (const Node& e : n.items(255)) {
        e.expectObject({"number", "capacity", "byte8", "sizeCode", "name", "text2"});
        InputBin b;
        b.number = static_cast<uint8_t>(e.at("number").number(0xFF));
        e.get("capacity", b.capacity);
        e.get("byte8", b.byte8);
        e.get("sizeCode", b.sizeCode);
        e.get("name", b.name);
        e.get("text2", b.text2);
        p.inputBins.push_back(b);
    }
}

void loadOutputBins(const Node& n, Profile& p) {
    for (const Node& e : n.items(255)) {
        e.expectObject({"number", "byte1", "capacity", "byte6", "byte7", "name"});
        OutputBin b;
        b.number = static_cast<uint8_t>(e.at("number").number(0xFF));
        e.get("byte1", b.byte1);
        e.get("capacity", b.capacity);
        e.get("byte6", b.byte6);
        e.get("byte7", b.byte7);
        e.get("name", b.name);
        p.outputBins.push_back(b);
    }
}

void loadInterpreters(const Node& n, Profile& p) {
    for (const Node& e : n.items(255)) {
        e.expectObject({"lu", "marker", "name"});
        Interpreter i;
        i.lu = static_cast<uint8_t>(e.at("lu").number(0xFF));
        e.get("marker", i.marker);
        i.name = e.at("name").latin1(254);   // sent with its terminating zero byte
        p.interpreters.push_back(i);
    }
}

// The fields a font's description is built from.
FontFields loadFontFields(const Node& e) {
    FontFields f;
    if (auto v = e.find("name")) f.name = v->latin1(kMaxFontName);
    if (auto v = e.find("position")) f.position = static_cast<uint16_t>(v->number(0xFFFF));
    if (auto v = e.find("technology")) f.technology = v->latin1(kMaxFontTechnology);
    if (auto v = e.find("symbolSet")) f.symbolSet = static_cast<uint16_t>(v->number(0xFFFF));
    if (auto v = e.find("charComplement")) {
        Bytes bytes = v->hex(8);
        if (bytes.size() != 8) v->fail("expected 8 bytes");
        f.charComplement.emplace();
        std::copy(bytes.begin(), bytes.end(), f.charComplement->begin());
    }
    if (auto v = e.find("spacing")) f.spacing = static_cast<uint8_t>(v->number(1));
    if (auto v = e.find("pitch")) f.pitch = v->decimal(kMaxFontSize);
    if (auto v = e.find("height")) f.height = v->decimal(kMaxFontSize);
    if (auto v = e.find("style")) f.style = v->number(kMaxFontNumber);
    if (auto v = e.find("weight")) f.weight = v->number(kMaxFontNumber);
    if (auto v = e.find("typeface")) f.typeface = v->number(kMaxFontNumber);
    if (auto v = e.find("resolution")) f.resolution = v->number(kMaxFontNumber);
    return f;
}

void loadFonts(const Node& n, Profile& p) {
    n.expectObject({"header", "list"});
    if (auto h = n.find("header")) p.fontHeader = h->hex(255);
    if (auto list = n.find("list"))
        for (const Node& e : list->items(0xFFFF)) {
            e.expectObject({"tag", "tag2", "selector1", "selector2", "name", "position", "technology", "symbolSet",
                            "charComplement", "spacing", "pitch", "height", "style", "weight", "typeface",
                            "resolution", "description"});
            Font f;
            f.tag = static_cast<uint8_t>(e.at("tag").number(0xFF));
            e.get("tag2", f.tag2);
            if (f.tag == 0xFE && f.tag2 == 0xFF) e.fail("tag FE with tag2 FF is the end marker of the list");
            if (auto s = e.find("selector1")) f.selector1 = static_cast<uint8_t>(s->number(0xFF));
            if (auto s = e.find("selector2")) f.selector2 = static_cast<uint8_t>(s->number(0xFF));
            // Either the fields or the description as it stands, not both.
            f.description = fontDescription(loadFontFields(e));
            if (auto d = e.find("description")) {
                if (!f.description.empty()) d->fail("expected either the description or the fields it is built from");
                f.description = d->latin1(kMaxFontDescription);
            }
            p.fonts.push_back(f);
        }
}

void loadSymbolSets(const Node& n, Profile& p) {
    for (const Node& e : n.items(0xFFFF)) {
        e.expectObject({"id", "complement", "name"});
        SymbolSet s;
        s.id = static_cast<uint16_t>(e.at("id").number(0xFFFF));
        if (auto c = e.find("complement")) {
            Bytes bytes = c->hex(8);
            if (bytes.size() != 8) c->fail("expected 8 bytes");
            std::copy(bytes.begin(), bytes.end(), s.complement.begin());
        }
        e.get("name", s.name);
        p.symbolSets.push_back(s);
    }
}

void loadCurrentFont(const Node& n, Profile& p) {
    n.expectObject({"tag", "position", "symbolSet", "size"});
    n.get("tag", p.currentFont.tag);
    n.get("position", p.currentFont.position);
    n.get("symbolSet", p.currentFont.symbolSet);
    n.get("size", p.currentFont.size);
}

// ---- configuration and jobs ----

Job loadJob(const Node& e) {
    e.expectObject({"byte0", "number", "byte3", "priority", "word5", "word7", "bytes9", "byte13", "long17", "long21",
                    "long25", "long29", "long33", "long37", "info1", "info2"});
    Job j;
    j.number = static_cast<uint16_t>(e.at("number").number(0xFFFF));
    if (j.number == 0) e.at("number").fail("job number 0 marks an invalid record");
    e.get("byte0", j.byte0);
    e.get("byte3", j.byte3);
    e.get("priority", j.priority);
    e.get("word5", j.word5);
    e.get("word7", j.word7);
    if (auto b = e.find("bytes9")) {
        Bytes bytes = b->hex(4);
        if (bytes.size() != 4) b->fail("expected 4 bytes");
        std::copy(bytes.begin(), bytes.end(), j.bytes9.begin());
    }
    e.get("byte13", j.byte13);
    e.get("long17", j.long17);
    e.get("long21", j.long21);
    e.get("long25", j.long25);
    e.get("long29", j.long29);
    e.get("long33", j.long33);
    e.get("long37", j.long37);
    e.get("info1", j.info1);
    e.get("info2", j.info2);
    return j;
}

void loadJobs(const Node& n, Profile& p) {
    std::set<uint16_t> numbers;
    for (const Node& e : n.items(0xFFFF)) {
        Job j = loadJob(e);
        if (!numbers.insert(j.number).second) e.at("number").fail("job number used twice");
        p.jobs.push_back(j);
    }
}

void loadCustomNames(const Node& n, std::vector<CustomName>& out) {
    for (const Node& e : n.items(255)) {
        e.expectObject({"number", "name"});
        CustomName c;
        c.number = static_cast<uint8_t>(e.at("number").number(0xFF));
        e.get("name", c.name, 254);
        out.push_back(c);
    }
}

std::vector<std::string> loadPanelLines(const Node& n, const Panel& panel) {
    std::vector<std::string> lines;
    for (const Node& l : n.items(static_cast<size_t>(panel.height))) lines.push_back(l.cp850(static_cast<size_t>(panel.width)));
    return lines;
}

void loadPanel(const Node& n, Profile& p) {
    n.expectObject({"width", "height", "text", "lockedText", "buttons"});
    Panel& panel = p.panel;
    if (auto w = n.find("width")) panel.width = static_cast<int>(w->number(80));
    if (auto h = n.find("height")) panel.height = static_cast<int>(h->number(16));
    if (panel.width == 0) n.at("width").fail("expected a number from 1 to 80");
    if (panel.height == 0) n.at("height").fail("expected a number from 1 to 16");
    if (auto t = n.find("text")) panel.text = loadPanelLines(*t, panel);
    if (auto t = n.find("lockedText")) panel.lockedText = loadPanelLines(*t, panel);
    if (auto buttons = n.find("buttons"))
        for (const Node& e : buttons->items(255)) {
            e.expectObject({"code", "name", "text", "lock"});
            PanelButton b;
            b.code = static_cast<uint8_t>(e.at("code").number(0xFF));
            e.get("name", b.name);
            if (auto t = e.find("text")) b.text = loadPanelLines(*t, panel);
            if (auto l = e.find("lock")) b.lock = static_cast<uint8_t>(l->number(0xFF));
            panel.buttons.push_back(b);
        }
}

Toner loadToner(const Node& n) {
    n.expectObject({"leading", "byte2", "common", "format", "supplies"});
    Toner t;
    if (auto l = n.find("leading")) t.leading = l->hex(255);
    n.get("byte2", t.byte2);
    n.get("common", t.common);
    n.get("format", t.format);
    if (t.format != 1 && t.format != 2) n.at("format").fail("expected 1 or 2");
    if (auto list = n.find("supplies"))
        for (const Node& e : list->items(255)) {
            e.expectObject({"id", "attribute", "valueA", "pageCount", "basePageCount", "valueB", "levelCount", "level",
                            "valueC", "counted", "valueD", "adjustHigh", "adjustLow", "stepHigh", "stepLow", "step"});
            TonerSupply s;
            s.id = static_cast<uint8_t>(e.at("id").number(0xFF));
            e.get("attribute", s.attribute);
            e.get("valueA", s.valueA);
            e.get("pageCount", s.pageCount);
            e.get("basePageCount", s.basePageCount);
            e.get("valueB", s.valueB);
            e.get("levelCount", s.levelCount);
            e.get("level", s.level);
            e.get("valueC", s.valueC);
            if (auto c = e.find("counted")) s.counted = c->hex(255);
            e.get("valueD", s.valueD);
            e.get("adjustHigh", s.adjustHigh);
            e.get("adjustLow", s.adjustLow);
            e.get("stepHigh", s.stepHigh);
            e.get("stepLow", s.stepLow);
            e.get("step", s.step);
            t.supplies.push_back(s);
        }
    return t;
}

void loadVariables(const Node& n, std::vector<Variable>& out, size_t maxValue) {
    std::set<uint16_t> ids;
    for (const Node& e : n.items(0xFFFF)) {
        e.expectObject({"id", "name", "value", "readOnly"});
        Variable v;
        v.id = e.at("id").varId();
        if (!ids.insert(v.id).second) e.at("id").fail("variable id used twice");
        if (auto value = e.find("value")) v.value = value->bytes(maxValue);
        e.get("readOnly", v.readOnly);
        out.push_back(v);
    }
}

// ---- alerts held by the printer ----

JobStatus loadJobStatus(const Node& e) {
    JobStatus s;
    e.get("headerA", s.headerA);
    e.get("headerB", s.headerB);
    e.get("headerC", s.headerC);
    if (auto list = e.find("inputs"))
        for (const Node& i : list->items(255)) {
            i.expectObject({"counter1", "counter2", "counter3", "counter4", "counter5"});
            JobStatusInput in;
            i.get("counter1", in.counter1);
            i.get("counter2", in.counter2);
            i.get("counter3", in.counter3);
            i.get("counter4", in.counter4);
            i.get("counter5", in.counter5);
            s.inputs.push_back(in);
        }
    e.get("statusByte", s.statusByte);
    e.get("info", s.info);
    e.get("text", s.text);
    e.get("valueTag", s.valueTag);
    e.get("valueSize", s.valueSize);
    if (auto list = e.find("values"))
        for (const Node& v : list->items(255)) {
            v.expectObject({"id", "value"});
            s.values.push_back({static_cast<uint8_t>(v.at("id").number(0xFF)), v.at("value").number(0xFFFFFFFF)});
        }
    return s;
}

ProfileAlert loadAlert(const Node& e, const Profile& p) {
    ProfileAlert a;
    std::string family = e.at("family").latin1();
    if (family == "deviceStatus") {
        e.expectObject({"name", "family", "status"});
        std::array<uint8_t, 3> status{};
        auto bytes = e.at("status").items(3);
        if (bytes.size() != 3) e.at("status").fail("expected three status bytes");
        for (size_t i = 0; i < 3; ++i) status[i] = static_cast<uint8_t>(bytes[i].number(0xFF));
        a.family = kFamilyDeviceStatus;
        a.data = deviceStatusAlert(status);
    } else if (family == "jobStatus") {
        e.expectObject({"name", "family", "headerA", "headerB", "headerC", "inputs", "statusByte", "info", "text",
                        "valueTag", "valueSize", "values"});
        a.family = kFamilyJobStatus;
        a.data = jobStatusAlert(loadJobStatus(e));
    } else if (family == "operatorPanel") {
        e.expectObject({"name", "family", "text"});
        a.family = kFamilyOperatorPanel;
        a.data = operatorPanelAlert(panelDisplay(loadPanelLines(e.at("text"), p.panel), p.panel.width, p.panel.height));
    } else if (family == "jobTransition") {
        e.expectObject({"name", "family", "job"});
        a.family = kFamilyJobTransition;
        a.data = jobTransitionAlert(loadJob(e.at("job")));
    } else if (family == "variableEvent") {
        e.expectObject({"name", "family", "id", "value", "byte"});
        a.family = kFamilyVariableEvent;
        if (auto b = e.find("byte"))
            a.data = variableByteEventAlert(static_cast<uint8_t>(b->number(0xFF)));
        else
            a.data = variableEventAlert(e.at("id").varId(), e.has("value") ? e.at("value").bytes(kMaxEventValue) : Bytes{});
    } else if (family == "toner") {
        e.expectObject({"name", "family", "toner"});
        a.family = kFamilyToner;
        a.data = tonerAlert(e.has("toner") ? loadToner(e.at("toner")) : p.toner);
    } else if (family == "raw") {
        e.expectObject({"name", "family", "code", "data"});
        a.family = static_cast<uint16_t>(e.at("code").number(0xFFFF));
        a.data = e.at("data").hex(kMaxAlertData);
    } else {
        e.at("family").fail("expected deviceStatus, jobStatus, operatorPanel, jobTransition, variableEvent, toner or raw");
    }
    e.get("name", a.name);
    return a;
}

void loadProfileRoot(const Node& root, Profile& p) {
    root.expectObject({"name", "identity", "names", "netAddress", "deviceStatus", "inputStatus", "outputStatus",
                       "alertRecords", "pageCounts", "hostPageCountType", "deviceChars", "inputBins", "outputBins",
                       "storage", "interpreters", "fonts", "symbolSets", "currentFont", "setFontStatus", "jobs",
                       "formNames", "binNicknames", "panel", "toner", "ports", "variables", "miscVariables",
                       "alerts", "storageDevices"});
    root.get("name", p.name);
    p.info.usFlags = PRTINFO_BIDI_CAPABLE;
    if (auto n = root.find("identity")) loadIdentity(*n, p);
    if (auto n = root.find("names")) loadNames(*n, p);
    if (auto n = root.find("netAddress")) loadNetAddress(*n, p);
    std::copy(p.info.abAdapterAddress, p.info.abAdapterAddress + 6, p.netAddress.abHardware);
    if (auto n = root.find("deviceStatus")) {
        auto bytes = n->items(3);
        if (bytes.size() != 3) n->fail("expected three status bytes");
        for (size_t i = 0; i < 3; ++i) p.deviceStatus[i] = static_cast<uint8_t>(bytes[i].number(0xFF));
    }
    if (auto n = root.find("inputStatus")) loadStatusRecords(*n, p.inputStatus);
    if (auto n = root.find("outputStatus")) loadStatusRecords(*n, p.outputStatus);
    if (auto n = root.find("alertRecords")) loadAlertRecords(*n, p);
    if (auto n = root.find("pageCounts")) loadPageCounts(*n, p);
    root.get("hostPageCountType", p.hostPageCountType);
    if (auto n = root.find("deviceChars")) loadDeviceChars(*n, p);
    if (auto n = root.find("inputBins")) loadInputBins(*n, p);
    if (auto n = root.find("outputBins")) loadOutputBins(*n, p);
    if (auto n = root.find("storage"))
        for (const Node& e : n->items(255)) p.storage.push_back(e.latin1(255));
    if (auto n = root.find("interpreters")) loadInterpreters(*n, p);
    if (auto n = root.find("fonts")) loadFonts(*n, p);
    if (auto n = root.find("symbolSets")) loadSymbolSets(*n, p);
    if (auto n = root.find("currentFont")) loadCurrentFont(*n, p);
    root.get("setFontStatus", p.setFontStatus);
    if (auto n = root.find("jobs")) loadJobs(*n, p);
    if (auto n = root.find("formNames")) loadCustomNames(*n, p.formNames);
    if (auto n = root.find("binNicknames")) loadCustomNames(*n, p.binNicknames);
    if (auto n = root.find("panel")) loadPanel(*n, p);
    if (auto n = root.find("toner")) p.toner = loadToner(*n);
    if (auto n = root.find("ports"))
        for (const Node& e : n->items(255)) p.ports.push_back(static_cast<uint8_t>(e.number(0xFF)));
    if (auto n = root.find("variables")) loadVariables(*n, p.variables, 255);
    if (auto n = root.find("miscVariables")) loadVariables(*n, p.miscVariables, 60000);
    // The panel lock is part of every printer's operator panel.
    if (std::none_of(p.variables.begin(), p.variables.end(), [](const Variable& v) { return v.id == kVarPanelLock; }))
        p.variables.push_back({kVarPanelLock, Bytes{0}, false});
    if (auto n = root.find("alerts"))
        for (const Node& e : n->items(1000)) p.alerts.push_back(loadAlert(e, p));
    if (auto n = root.find("storageDevices")) loadStorageDevices(*n, p.storageDevices);
}

}  // namespace

namespace {

// The JSON document of `text`, or false with `error` giving the position of the fault.
bool parseJson(std::string_view text, const char* what, nlohmann::json* document, std::string* error) {
    *document = nlohmann::json::parse(text, nullptr, false);
    if (!document->is_discarded()) return true;
    // Parse again with exceptions for the position of the fault.
    try {
        *document = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        *error = std::string(what) + " is not valid JSON: " + e.what();
    }
    return false;
}

}  // namespace

bool loadProfile(std::string_view json, Profile* profile, std::string* error, std::string_view overlay) {
    nlohmann::json document, patch;
    if (!parseJson(json, "profile", &document, error)) return false;
    if (!overlay.empty() && document.is_object()) {   // anything else is refused below
        if (!parseJson(overlay, "overlay", &patch, error)) return false;
        document.merge_patch(patch);
    }
    try {
        Profile loaded;
        loadProfileRoot(Node(document, ""), loaded);
        *profile = std::move(loaded);
        return true;
    } catch (const ProfileError& e) {
        *error = e.what();
        return false;
    }
}

}  // namespace kvsim
