// The profile as IPP attributes, where the IPP fill reads them
// (net/ipp/fill.cpp, trays.cpp, supplies.cpp, jobs.cpp): the trays and
// supplies in PWG's structured texts of the Printer MIB's values (rows.h).
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <map>
#include <sstream>


#include "differential.h"
#include "snmp/oids.h"
#include "text.h"

namespace difftest {
namespace {

namespace oid = kvnet::snmp::oid;

// printer-state by activity (device status byte 0, bits 6-7): idle,
// printing, warming up (IPP has no such state: processing), other (stopped).
constexpr int kStates[] = {3, 4, 4, 5};
constexpr uint8_t kManualBins = 2;   // bins 1 and 2: IPP numbers the manual feeds first

// The keywords of the Printer MIB's values the rows hold.
const std::map<int64_t, std::string> kInputTypes = {{1, "other"}, {oid::sheetFeedManual, "sheetFeedManual"}};
const std::map<int64_t, std::string> kOutputTypes = {
    {1, "other"}, {oid::removableBin, "removableBin"}, {oid::unRemovableBin, "unRemovableBin"}};
const std::map<int64_t, std::string> kSupplyClasses = {
    {oid::supplyThatIsConsumed, "supplyThatIsConsumed"}, {oid::receptacleThatIsFilled, "receptacleThatIsFilled"}};
const std::map<int64_t, std::string> kSupplyTypes = {
    {1, "other"}, {oid::toner, "toner"}, {oid::wasteToner, "wasteToner"}, {oid::staples, "staples"}};
const std::map<int64_t, std::string> kSupplyUnits = {{oid::unitImpressions, "impressions"}, {oid::unitPercent, "percent"}};
// The firmware components of the code-level lines ("NAME: level") by their firmware name.
const std::map<std::string, std::string> kComponents = {
    {"ENG", "Engine"}, {"PNL", "Panel"}, {"INA1", "Network"}, {"CONT", "Main"}, {"DPX", "Duplex"}};

std::string utf8(const std::string& latin1) { return kvnet::toUtf8(latin1, kvnet::kCharsetLatin1); }
std::string number(int64_t n) { return std::to_string(n); }

// The main version (device characteristics) under a name none of the
// components has, then the components; option slots have no attribute.
void addFirmware(const kvsim::Profile& p, IppGroup& g) {
    IppAttribute names{"name", "printer-firmware-name", {}}, versions{"text", "printer-firmware-string-version", {}};
    if (!p.deviceChars.codeLevel.empty()) {
        names.values.push_back("Base code");
        versions.values.push_back(utf8(p.deviceChars.codeLevel));
    }
    for (const kvsim::Variable& v : p.miscVariables) {
        if (v.id != kvsim::kMiscCodeLevels) continue;
        const std::string text(v.value.begin(), v.value.end());
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = text.substr(start, end - start);
            const size_t colon = line.find(": ");
            auto component = colon == std::string::npos ? kComponents.end() : kComponents.find(line.substr(0, colon));
            if (component == kComponents.end()) continue;
            names.values.push_back(component->second);
            versions.values.push_back(utf8(line.substr(colon + 2)));
        }
    }
    if (!names.values.empty()) g.insert(g.end(), {names, versions});
}

// printer-input-tray (a manual feed's type numbers it 1 or 2), the media of
// media-col-ready, printer-output-tray and printer-supply.
void addTraysAndSupplies(const kvsim::Profile& p, IppGroup& g) {
    IppAttribute in{"octetString", "printer-input-tray", {}}, media{"collection", "media-col-ready", {}},
        out{"octetString", "printer-output-tray", {}}, supplies{"octetString", "printer-supply", {}};
    for (const InputRow& r : inputRows(p)) {
        const int64_t type = r.number <= kManualBins ? int64_t{oid::sheetFeedManual} : r.bin.byte8;
        const std::string name = utf8(r.bin.name);
        in.values.push_back((kInputTypes.count(type) ? "type=" + kInputTypes.at(type) + ";" : "") +
                            "maxcapacity=" + number(r.bin.capacity) + ";level=" + number(r.level) +
                            ";status=" + number(r.status) + ";name=" + name + ";");
        if (const PaperSize* size = paperSize(r.bin.sizeCode))
            media.values.push_back("media-source=" + name + ";media-size-name=" + size->pwg + ";");
    }
    for (const OutputRow& r : outputRows(p))
        out.values.push_back("type=" + kOutputTypes.at(r.type) + ";maxcapacity=" + number(r.bin.capacity) +
                             ";remaining=" + number(r.remaining) + ";status=" + number(r.status) + ";name=" +
                             utf8(r.bin.name) + ";pagedelivery=" + (r.faceUp ? "faceUpBigEndian;" : "faceDownBigEndian;"));
    for (const SupplyRow& r : supplyRows(p))
        supplies.values.push_back("index=" + number(r.index) + ";class=" + kSupplyClasses.at(r.supplyClass) +
                                  ";type=" + kSupplyTypes.at(r.type) + ";unit=" + kSupplyUnits.at(r.unit) +
                                  ";maxcapacity=" + number(r.max) + ";level=" + number(r.level) + ";");
    for (const IppAttribute& a : {in, media, out, supplies})
        if (!a.values.empty()) g.push_back(a);
}

// A text of an attributes file: in quotes, with '"' and '\\' escaped.
std::string inQuotes(const std::string& text) { return (std::ostringstream() << std::quoted(text)).str(); }

}  // namespace

IppGroup ippPrinterOf(const kvsim::Profile& p) {
    const uint8_t status = p.deviceStatus[0];
    IppGroup g = {{"enum", "printer-state", {number(kStates[status >> 6])}},
                  {"boolean", "printer-is-accepting-jobs", {(status & 0x01) ? "true" : "false"}}};
    if (!p.deviceChars.text1.empty()) g.push_back({"text", "printer-make-and-model", {utf8(p.deviceChars.text1)}});
    if (p.info.szSerialNumber[0] != '\0') g.push_back({"text", "printer-serial-number", {utf8(p.info.szSerialNumber)}});
    addFirmware(p, g);
    // "600 DPI" or "600x1200 DPI".
    if (const std::string& r = p.deviceChars.text3; r.size() > 4 && r.ends_with(" DPI"))
        g.push_back({"resolution", "printer-resolution-default", {r.substr(0, r.size() - 4) + "dpi"}});
    g.push_back({"keyword", "sides-supported", {"one-sided"}});
    if (p.deviceChars.byte7) g.back().values.push_back("two-sided-long-edge");
    if (auto life = pageCount(p, 1)) g.push_back({"integer", "printer-impressions-completed", {number(*life)}});
    addTraysAndSupplies(p, g);
    g.push_back({"keyword", "printer-state-reasons", {}});
    for (const AlertCarrier& a : kAlertCarriers)
        if (a.reason) g.back().values.push_back(a.reason);
    return g;
}

std::vector<IppGroup> ippJobsOf(const kvsim::Profile& p) {
    std::vector<IppGroup> jobs;
    for (const kvsim::Job& j : p.jobs) {
        auto pairs = itemsOf(j.info1 + ";" + j.info2, '=');   // "JN=report;UR=alice"
        std::map<std::string, std::string> items(pairs.begin(), pairs.end());
        jobs.push_back({{"integer", "job-id", {number(j.number)}},
                        {"enum", "job-state", {number(j.byte0 + 2)}},   // record byte 0 is the state less 2
                        {"integer", "copies", {number(j.word5)}},
                        {"integer", "job-k-octets", {number(j.long21 / 1024)}},
                        {"integer", "job-impressions", {number(j.long25)}},
                        {"integer", "job-impressions-completed", {number(j.long29)}},
                        {"name", "job-name", {utf8(items["JN"])}},
                        {"name", "job-originating-user-name", {utf8(items["UR"])}}});
        if (j.priority >= 1 && j.priority <= 100) jobs.back().push_back({"integer", "job-priority", {number(j.priority)}});
    }
    return jobs;
}

std::string ippeveprinterFile(const IppGroup& printer) {
    std::string out = "# Generated from a simulator profile by the differential test.\n";
    for (const IppAttribute& a : printer) {
        out += "ATTR " + a.syntax + " " + a.name + " ";
        for (size_t i = 0; i < a.values.size(); ++i) {
            std::string value = a.values[i];
            if (a.syntax == "collection") {
                value = "{";
                for (const auto& [member, text] : itemsOf(a.values[i], '='))
                    value += " MEMBER keyword " + member + " " + inQuotes(text);
                value += " }";
            } else if (a.syntax == "text" || a.syntax == "name" || a.syntax == "octetString") {
                value = inQuotes(value);
            }
            out += (i > 0 ? "," : "") + value;
        }
        out += "\n";
    }
    return out;
}

// As the codec decodes each syntax (net/ipp/codec.cpp): names, texts and
// octet strings are texts; collections flattened as written.
kvnet::ipp::Attributes decoded(const IppGroup& group) {
    using Kind = kvnet::ipp::AttributeValue::Kind;
    const std::map<std::string, Kind> kKinds = {
        {"integer", Kind::Integer}, {"enum", Kind::Enum},       {"boolean", Kind::Boolean},
        {"keyword", Kind::Keyword}, {"resolution", Kind::Resolution}, {"collection", Kind::Collection}};
    kvnet::ipp::Attributes attributes;
    for (const IppAttribute& a : group)
        for (const std::string& text : a.values) {
            kvnet::ipp::AttributeValue v{kKinds.count(a.syntax) ? kKinds.at(a.syntax) : Kind::Text, 0, 0, text};
            if (v.kind == Kind::Integer || v.kind == Kind::Enum || v.kind == Kind::Boolean)
                v.number = text == "true" ? 1 : std::atoi(text.c_str()), v.text.clear();
            if (v.kind == Kind::Resolution && std::sscanf(text.c_str(), "%dx%d", &v.number, &v.upper) == 1)
                v.upper = v.number;
            if (v.kind == Kind::Resolution) v.text = "dpi";
            attributes[a.name].push_back(v);
        }
    return attributes;
}

}  // namespace difftest
