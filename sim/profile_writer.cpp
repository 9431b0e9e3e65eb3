// Writing a profile: one function per section of docs/simulator.md, each the
// reverse of its loader in profile.cpp.
#include "profile_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "alert_data.h"
#include "font_description.h"
#include "text.h"

namespace kvsim {
namespace {

using json = nlohmann::ordered_json;

// ---- values ----

json text(const std::string& latin1) { return fromLatin1(latin1); }

// A NUL-terminated text of the engine's records, read no further than its array.
template <size_t N>
json cText(const char (&field)[N]) {
    return fromLatin1(std::string(field, strnlen(field, N - 1)));
}

json panelLines(const std::vector<std::string>& lines) {
    json out = json::array();
    for (const std::string& line : lines) out.push_back(fromCp850(line));
    return out;
}

std::string hexText(const uint8_t* bytes, size_t count, char separator = ' ') {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (i) out += separator;
        out += {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0x0F]};
    }
    return out;
}

json hex(const Bytes& bytes) { return hexText(bytes.data(), bytes.size()); }

std::string hexNumber(unsigned value) {
    char out[16];
    std::snprintf(out, sizeof out, "0x%X", value);
    return out;
}

json varId(uint16_t id) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    return hexText(bytes, 2);
}

bool printable(const Bytes& bytes) {
    for (uint8_t b : bytes)
        if ((b < 0x20 || b > 0x7E) && b != '\n' && b != '\t') return false;
    return true;
}

uint32_t bigEndian(const uint8_t* bytes, size_t count) {
    uint32_t v = 0;
    for (size_t i = 0; i < count; ++i) v = (v << 8) | bytes[i];
    return v;
}

// A value in the form a person would have written it: one or two bytes as
// numbers, longer printable values as text, four bytes as a number, the rest in hex.
json bytesValue(const Bytes& value) {
    if (value.size() == 1) return {{"u8", value[0]}};
    if (value.size() == 2) return {{"be16", bigEndian(value.data(), 2)}};
    if (printable(value)) return {{"text", fromLatin1(std::string(value.begin(), value.end()))}};
    if (value.size() == 4) return {{"be32", bigEndian(value.data(), 4)}};
    return {{"hex", hex(value)}};
}

// ---- identity and addresses ----

struct AddressKind {
    const char* name;
    uint32_t bit;
};
constexpr AddressKind kAddressKinds[] = {{"ip", PRTINFO_HAS_IP}, {"ipx", PRTINFO_HAS_IPX}, {"dlc", PRTINFO_HAS_DLC}};
constexpr unsigned kNetTypeBits = 8, kCapturedLpts = 9;
constexpr uint16_t kInfoFlag15 = 0x8000;

json identity(const PRTINFO& info) {
    json netTypes = json::array(), lpts = json::array(), addresses = json::array();
    for (unsigned bit = 0; bit < kNetTypeBits; ++bit)
        if (info.ulAttachment & (1u << bit)) netTypes.push_back(1u << bit);
    for (unsigned lpt = 1; lpt <= kCapturedLpts; ++lpt)
        if (info.ulAttachment & (PRTINFO_CAPTURED_LPT1 << (lpt - 1))) lpts.push_back(lpt);
    for (const AddressKind& kind : kAddressKinds)
        if (info.ulAttachment & kind.bit) addresses.push_back(kind.name);
    return {{"model", cText(info.szModelName)},
            {"serial", cText(info.szSerialNumber)},
            {"adapterAddress", hexText(info.abAdapterAddress, sizeof info.abAdapterAddress, ':')},
            {"portName", cText(info.szPortName)},
            {"bidiCapable", (info.usFlags & PRTINFO_BIDI_CAPABLE) != 0},
            {"infoFlag15", (info.usFlags & kInfoFlag15) != 0},
            {"netTypes", netTypes},
            {"localPort", (info.ulAttachment & PRTINFO_LOCAL_PORT) != 0},
            {"capturedLpt", lpts},
            {"addresses", addresses},
            {"netTypeCode", info.usNetTypeCode},
            {"netSubCode", info.usNetSubCode}};
}

json names(const std::vector<NameEntry>& entries) {
    json out = json::array();
    for (const NameEntry& e : entries) out.push_back({{"netType", e.netType}, {"name", text(e.name)}, {"address", text(e.address)}});
    return out;
}

json netAddress(const NETADDRESS_LEVEL2& a) {
    return {{"hostName", cText(a.szHostName)}, {"address", cText(a.szAddress)}, {"port", a.ulPort}};
}

// ---- status and alert records ----

json statusRecords(const std::vector<StatusRecord>& records) {
    json out = json::array();
    for (const StatusRecord& r : records) out.push_back({{"id", r.id}, {"present", r.present}, {"status", r.status}});
    return out;
}

// The runs of requests 6 to 11 by their keys (profile.cpp reads the same names).
struct AlertRunKey {
    const char* key;
    uint16_t code;
};
constexpr AlertRunKey kAlertRuns[] = {
    {"paperJams", 0x06},       {"operatorIntervention", 0x07}, {"warnings", 0x08},
    {"serviceRequired", 0x09}, {"configChanges", 0x0A},        {"supplies", 0x0B},
};

json alertRecords(const Profile& p) {
    json out = json::object();
    for (const AlertRunKey& run : kAlertRuns) {
        json list = json::array();
        if (auto it = p.alertRuns.find(run.code); it != p.alertRuns.end())
            for (const AlertRecord& r : it->second) {
                json record = {{"category", r.category}, {"instance", r.instance}, {"condition", r.condition}};
                if (!r.extra.empty()) record["extra"] = hex(r.extra);
                list.push_back(record);
            }
        out[run.key] = list;
    }
    json supplies = json::array();
    for (const SupplyStatusRecord& r : p.suppliesStatus)
        supplies.push_back({{"category", r.category}, {"instance", r.instance}, {"condition", r.condition}, {"value", r.value}});
    out["suppliesStatus"] = supplies;
    return out;
}

json pageCounts(const std::vector<PageCount>& counts) {
    json out = json::array();
    for (const PageCount& c : counts) out.push_back({{"type", c.type}, {"count", c.count}});
    return out;
}

// ---- device characteristics ----

json deviceChars(const DeviceChars& d) {
    return {{"byte2", d.byte2}, {"byte7", d.byte7}, {"byte11", d.byte11}, {"memoryBytes", d.memoryBytes},
            {"text1", text(d.text1)}, {"codeLevel", text(d.codeLevel)}, {"text3", text(d.text3)}};
}

json inputBins(const std::vector<InputBin>& bins) {
    json out = json::array();
    for (const InputBin& b : bins)
        out.push_back({{"number", b.number}, {"capacity", b.capacity}, {"byte8", b.byte8}, {"sizeCode", b.sizeCode},
                       {"name", text(b.name)}, {"text2", text(b.text2)}});
    return out;
}

json outputBins(const std::vector<OutputBin>& bins) {
    json out = json::array();
    for (const OutputBin& b : bins)
        out.push_back({{"number", b.number}, {"byte1", b.byte1}, {"capacity", b.capacity}, {"byte6", b.byte6},
                       {"byte7", b.byte7}, {"name", text(b.name)}});
    return out;
}

json storage(const std::vector<std::string>& entries) {
    json out = json::array();
    for (const std::string& e : entries) out.push_back(text(e));
    return out;
}

json storageDevices(const std::vector<StorageDevice>& devices) {
    json out = json::array();
    for (const StorageDevice& d : devices) {
        json files = json::array();
        for (const StoredFile& f : d.files) files.push_back({{"name", text(f.name)}, {"size", f.size}});
        out.push_back({{"device", d.id == kDeviceFlash ? "flash" : d.id == kDeviceDisk ? "disk" : hexNumber(d.id)},
                       {"capacity", d.capacity},
                       {"files", files}});
    }
    return out;
}

json interpreters(const std::vector<Interpreter>& list) {
    json out = json::array();
    for (const Interpreter& i : list) out.push_back({{"lu", i.lu}, {"marker", i.marker}, {"name", text(i.name)}});
    return out;
}

// Whole numbers as JSON integers, as a person writes a size of 10.
json fontSize(double v) {
    if (v == std::floor(v) && v >= 0 && v <= kMaxFontSize) return static_cast<uint32_t>(v);
    return v;
}

// A font by its fields where they build its description again, else by the description itself.
json font(const Font& f) {
    json out = {{"tag", f.tag}, {"tag2", f.tag2}};
    if (f.selector1) out["selector1"] = *f.selector1;
    if (f.selector2) out["selector2"] = *f.selector2;
    auto fields = fontFields(f.description);
    if (!fields) {
        out["description"] = text(f.description);
        return out;
    }
    if (fields->name) out["name"] = text(*fields->name);
    if (fields->position) out["position"] = *fields->position;
    if (fields->technology) out["technology"] = text(*fields->technology);
    if (fields->symbolSet) out["symbolSet"] = *fields->symbolSet;
    if (fields->charComplement) out["charComplement"] = hexText(fields->charComplement->data(), 8);
    if (fields->spacing) out["spacing"] = *fields->spacing;
    if (fields->pitch) out["pitch"] = fontSize(*fields->pitch);
    if (fields->height) out["height"] = fontSize(*fields->height);
    if (fields->style) out["style"] = *fields->style;
    if (fields->weight) out["weight"] = *fields->weight;
    if (fields->typeface) out["typeface"] = *fields->typeface;
    if (fields->resolution) out["resolution"] = *fields->resolution;
    return out;
}

json fonts(const Profile& p) {
    json list = json::array();
    for (const Font& f : p.fonts) list.push_back(font(f));
    return {{"header", hex(p.fontHeader)}, {"list", list}};
}

json symbolSets(const std::vector<SymbolSet>& sets) {
    json out = json::array();
    for (const SymbolSet& s : sets)
        out.push_back({{"id", s.id}, {"complement", hexText(s.complement.data(), s.complement.size())}, {"name", text(s.name)}});
    return out;
}

json currentFont(const CurrentFont& f) {
    return {{"tag", f.tag}, {"position", f.position}, {"symbolSet", f.symbolSet}, {"size", f.size}};
}

// ---- jobs, names, panel, toner ----

json job(const Job& j) {
    return {{"number", j.number}, {"byte0", j.byte0}, {"byte3", j.byte3}, {"priority", j.priority},
            {"word5", j.word5}, {"word7", j.word7}, {"bytes9", hexText(j.bytes9.data(), j.bytes9.size())},
            {"byte13", j.byte13}, {"long17", j.long17}, {"long21", j.long21}, {"long25", j.long25},
            {"long29", j.long29}, {"long33", j.long33}, {"long37", j.long37}, {"info1", text(j.info1)},
            {"info2", text(j.info2)}};
}

json jobs(const std::vector<Job>& list) {
    json out = json::array();
    for (const Job& j : list) out.push_back(job(j));
    return out;
}

json customNames(const std::vector<CustomName>& list) {
    json out = json::array();
    for (const CustomName& c : list) out.push_back({{"number", c.number}, {"name", text(c.name)}});
    return out;
}

json panel(const Panel& p) {
    json buttons = json::array();
    for (const PanelButton& b : p.buttons) {
        json button = {{"code", b.code}, {"name", text(b.name)}};
        if (b.text) button["text"] = panelLines(*b.text);
        if (b.lock) button["lock"] = *b.lock;
        buttons.push_back(button);
    }
    return {{"width", p.width}, {"height", p.height}, {"text", panelLines(p.text)},
            {"lockedText", panelLines(p.lockedText)}, {"buttons", buttons}};
}

json toner(const Toner& t) {
    json supplies = json::array();
    for (const TonerSupply& s : t.supplies)
        supplies.push_back({{"id", s.id}, {"attribute", s.attribute}, {"valueA", s.valueA}, {"pageCount", s.pageCount},
                            {"basePageCount", s.basePageCount}, {"valueB", s.valueB}, {"levelCount", s.levelCount},
                            {"level", s.level}, {"valueC", s.valueC}, {"counted", hex(s.counted)},
                            {"valueD", s.valueD}, {"adjustHigh", s.adjustHigh}, {"adjustLow", s.adjustLow},
                            {"stepHigh", s.stepHigh}, {"stepLow", s.stepLow}, {"step", s.step}});
    return {{"leading", hex(t.leading)}, {"byte2", t.byte2}, {"common", t.common}, {"format", t.format},
            {"supplies", supplies}};
}

json variables(const std::vector<Variable>& list) {
    json out = json::array();
    for (const Variable& v : list) {
        json variable = {{"id", varId(v.id)}};
        if (!v.value.empty()) variable["value"] = bytesValue(v.value);
        if (v.readOnly) variable["readOnly"] = true;
        out.push_back(variable);
    }
    return out;
}

// ---- alerts held by the printer ----

constexpr uint8_t kPanelAlertTag = 0xE1;
constexpr uint8_t kEventHeader[] = {0x03, 0x40};
constexpr uint8_t kEventVariable = 0x09, kEventByte = 0x0C;

// The panel alert's lines, cut from its display, without their padding.
std::vector<std::string> displayLines(const Bytes& data, const Panel& p) {
    std::vector<std::string> lines;
    const auto width = static_cast<size_t>(p.width);
    for (size_t at = 1; at < data.size(); at += width) {
        std::string line(data.begin() + static_cast<ptrdiff_t>(at), data.begin() + static_cast<ptrdiff_t>(at + width));
        line.erase(line.find_last_not_of(' ') + 1);
        lines.push_back(line);
    }
    return lines;
}

// The job of a job-transition alert whose short record builds the data
// again; the fields beyond the short record are not written.
std::optional<json> transitionJob(const Bytes& d) {
    constexpr size_t kHeader = 2, kRecord = 21, kNumber = kHeader + 1, kLong17 = kHeader + 17;
    if (d.size() != kHeader + kRecord) return std::nullopt;
    Job j;
    j.byte0 = d[kHeader];
    j.number = static_cast<uint16_t>(bigEndian(&d[kNumber], 2));
    j.byte3 = d[kHeader + 3];
    j.priority = d[kHeader + 4];
    j.word5 = static_cast<uint16_t>(bigEndian(&d[kHeader + 5], 2));
    j.word7 = static_cast<uint16_t>(bigEndian(&d[kHeader + 7], 2));
    std::copy(&d[kHeader + 9], &d[kHeader + 13], j.bytes9.begin());
    j.byte13 = d[kHeader + 13];
    j.long17 = bigEndian(&d[kLong17], 4);
    if (j.number == 0 || jobTransitionAlert(j) != d) return std::nullopt;   // number 0 is no job to a profile
    json fields = job(j);
    for (const char* key : {"long21", "long25", "long29", "long33", "long37", "info1", "info2"}) fields.erase(key);
    return fields;
}

// The fields of an alert's family that build its data again, or nothing.
std::optional<json> alertFields(const ProfileAlert& a, const Profile& p) {
    const Bytes& d = a.data;
    if (a.family == kFamilyToner && d == tonerAlert(p.toner)) return json{{"family", "toner"}};   // the printer's toner
    if (a.family == kFamilyJobTransition)
        if (auto j = transitionJob(d)) return json{{"family", "jobTransition"}, {"job", *j}};
    const bool event = d.size() >= 3 && d[0] == kEventHeader[0] && d[1] == kEventHeader[1];
    if (a.family == kFamilyDeviceStatus && d.size() == 3)
        return json{{"family", "deviceStatus"}, {"status", {d[0], d[1], d[2]}}};
    if (a.family == kFamilyOperatorPanel && !d.empty() && d[0] == kPanelAlertTag &&
        d.size() == 1 + static_cast<size_t>(p.panel.width) * static_cast<size_t>(p.panel.height))
        return json{{"family", "operatorPanel"}, {"text", panelLines(displayLines(d, p.panel))}};
    if (a.family == kFamilyVariableEvent && event && d[2] == kEventByte && d.size() == 4)
        return json{{"family", "variableEvent"}, {"byte", d[3]}};
    if (a.family == kFamilyVariableEvent && event && d[2] == kEventVariable && d.size() >= 5 &&
        d.size() - 5 <= kMaxEventValue) {
        json fields = {{"family", "variableEvent"}, {"id", varId(static_cast<uint16_t>((d[3] << 8) | d[4]))}};
        if (d.size() > 5) fields["value"] = bytesValue(Bytes(d.begin() + 5, d.end()));
        return fields;
    }
    return std::nullopt;
}

json alerts(const Profile& p) {
    json out = json::array();
    for (const ProfileAlert& a : p.alerts) {
        json alert = json::object();
        if (!a.name.empty()) alert["name"] = text(a.name);
        if (auto fields = alertFields(a, p))
            alert.update(*fields);
        else
            alert.update(json{{"family", "raw"}, {"code", hexNumber(a.family)}, {"data", hex(a.data)}});
        out.push_back(alert);
    }
    return out;
}

}  // namespace

std::string profileToJson(const Profile& p, std::string_view source) {
    json out = {
        {"_comment", "Written by kvprt snapshot from " + std::string(source) +
                         ". docs/simulator.md describes every field."},
        {"name", text(p.name)},
        {"identity", identity(p.info)},
        {"names", names(p.names)},
        {"netAddress", netAddress(p.netAddress)},
        {"deviceStatus", {p.deviceStatus[0], p.deviceStatus[1], p.deviceStatus[2]}},
        {"inputStatus", statusRecords(p.inputStatus)},
        {"outputStatus", statusRecords(p.outputStatus)},
        {"alertRecords", alertRecords(p)},
        {"pageCounts", pageCounts(p.pageCounts)},
        {"hostPageCountType", p.hostPageCountType},
        {"deviceChars", deviceChars(p.deviceChars)},
        {"inputBins", inputBins(p.inputBins)},
        {"outputBins", outputBins(p.outputBins)},
        {"storage", storage(p.storage)},
        {"storageDevices", storageDevices(p.storageDevices)},
        {"interpreters", interpreters(p.interpreters)},
        {"fonts", fonts(p)},
        {"symbolSets", symbolSets(p.symbolSets)},
        {"currentFont", currentFont(p.currentFont)},
        {"setFontStatus", p.setFontStatus},
        {"jobs", jobs(p.jobs)},
        {"formNames", customNames(p.formNames)},
        {"binNicknames", customNames(p.binNicknames)},
        {"panel", panel(p.panel)},
        {"toner", toner(p.toner)},
        {"ports", p.ports},
        {"variables", variables(p.variables)},
        {"miscVariables", variables(p.miscVariables)},
        {"alerts", alerts(p)},
    };
    // The source may hold bytes that are not UTF-8 (a path): replaced, never thrown on.
    return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace kvsim
