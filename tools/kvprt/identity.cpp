// Who the printer is: identity and capabilities, device characteristics and
// code levels (commands info and levels).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "command.h"
#include "kvprtobj/bidicodes.h"
#include "texts.h"

namespace kvprt {
namespace {

// A NUL-terminated text field of at most `size` bytes.
template <size_t N>
std::string field(const char (&text)[N]) {
    return utf8(std::string(text, strnlen(text, N)));
}

json textOrNull(const CString& s) { return s.empty() ? json(nullptr) : json(utf8(s)); }

// How the printer is attached, by discovery's connection kind.
const char* connectionText(int kind) {
    switch (kind) {
    case KVPrtObj::CONN_LOCAL_LPT: return "local parallel port";
    case KVPrtObj::CONN_LOCAL_COM: return "local serial port";
    case KVPrtObj::CONN_LOCAL_OTHER: return "local port";
    case KVPrtObj::CONN_UNKNOWN: return "unknown";
    default: return "network";
    }
}

// The network types behind the protocol bits of the capabilities, bit 0 first.
constexpr unsigned kProtocolTypes[8] = {0x01, 0x02, 0x80, 0x04, 0x40, 0x20, 0x08, 0x10};

std::optional<unsigned long> optionalType(long rc, unsigned long value) {
    return rc == 0 && value != KVPrtObj::PRINTER_TYPE_UNKNOWN ? std::optional(value) : std::nullopt;
}

template <class T>
json orNull(const std::optional<T>& value) { return value ? json(*value) : json(nullptr); }

// Who the printer is, as its operations answered.
struct Identity {
    std::string uri;
    PRTINFO info{};
    KVPrtObj::BIDICAPABILITIES caps;
    std::vector<unsigned> protocols;            // network types
    std::optional<NETADDRESS_LEVEL2> address;   // over the first network type
    std::optional<unsigned long> type, rawType, family;
    std::optional<std::string> propertyTag;
};

json identityJson(const Identity& id) {
    const PRTINFO& info = id.info;
    const KVPrtObj::BIDICAPABILITIES& caps = id.caps;
    json j = {
        {"uri", id.uri},
        {"model", field(info.szModelName)},
        {"serial", field(info.szSerialNumber)},
        {"portName", field(info.szPortName)},
        {"bidiCapable", (info.usFlags & PRTINFO_BIDI_CAPABLE) != 0},
        {"bidiActive", caps.bBidiActive != 0},
        {"connection",
         {{"kind", caps.nConnectionKind},
          {"text", connectionText(caps.nConnectionKind)},
          {"netTypeCode", info.usNetTypeCode},
          {"netSubCode", info.usNetSubCode}}},
        {"protocols", id.protocols},
        {"adapterAddress", textOrNull(caps.strAdapterAddress)},
        {"names", {{"net1", textOrNull(caps.strNetName1)}, {"net2", textOrNull(caps.strNetName2)},
                   {"net3", textOrNull(caps.strNetName3)}}},
        {"addresses", textOrNull(caps.strAddresses)},
        {"addressCount", caps.nAddressCount},
        {"capturedPorts", textOrNull(caps.strCapturedPorts)},
        {"networkAddress", nullptr},
    };
    if (id.address)
        j["networkAddress"] = {{"hostName", field(id.address->szHostName)},
                               {"address", field(id.address->szAddress)},
                               {"port", id.address->ulPort}};
    j["printerType"] = orNull(id.type);
    j["rawPrinterType"] = orNull(id.rawType);
    j["family"] = orNull(id.family);
    j["propertyTag"] = orNull(id.propertyTag);
    return j;
}

std::string textOrDash(const CString& s) { return s.empty() ? "-" : utf8(s); }

template <class T>
std::string numberOrDash(const std::optional<T>& value) { return value ? std::to_string(*value) : "-"; }

void renderIdentity(const Identity& id, std::ostream& out) {
    const PRTINFO& info = id.info;
    const KVPrtObj::BIDICAPABILITIES& caps = id.caps;
    Fields f;
    f.add("Model", field(info.szModelName));
    f.add("Serial number", field(info.szSerialNumber));
    f.add("Port", field(info.szPortName));
    f.add("Connection", std::string(connectionText(caps.nConnectionKind)) + " (kind " +
                            std::to_string(caps.nConnectionKind) + ", type code " + std::to_string(info.usNetTypeCode) +
                            ", sub-code " + std::to_string(info.usNetSubCode) + ")");
    std::string protocols;
    for (unsigned p : id.protocols) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", p);
        protocols += (protocols.empty() ? "" : ", ") + std::string(hex);
    }
    f.add("Network types", protocols.empty() ? "-" : protocols);
    f.add("Bidi", std::string(info.usFlags & PRTINFO_BIDI_CAPABLE ? "capable" : "not capable") +
                      (caps.bBidiActive ? ", active" : ", inactive"));
    const std::pair<const char*, const CString*> names[] = {
        {"net1", &caps.strNetName1}, {"net2", &caps.strNetName2}, {"net3", &caps.strNetName3}};
    for (const auto& [key, name] : names)
        if (!name->empty()) f.add(std::string("Name (") + key + ")", utf8(*name));
    f.add("Addresses", textOrDash(caps.strAddresses));
    f.add("Adapter address", textOrDash(caps.strAdapterAddress));
    if (id.address)
        f.add("Network address", field(id.address->szHostName) + " " + field(id.address->szAddress) + " port " +
                                     std::to_string(id.address->ulPort));
    if (!caps.strCapturedPorts.empty()) f.add("Captured ports", utf8(caps.strCapturedPorts));
    f.add("Printer type", numberOrDash(id.type) + " (reported " + numberOrDash(id.rawType) + ")");
    f.add("Printer family", numberOrDash(id.family));
    f.add("Property tag", id.propertyTag ? *id.propertyTag : "-");
    f.print(out);
}

Part gatherIdentity(Printer& printer) {
    KVPrtObj& obj = printer.obj();
    Identity id;
    id.uri = printer.uri();
    check(obj.bidiGetPrinterInfo(&id.info), "bidiGetPrinterInfo");
    obj.getBidiCaps(&id.caps);
    for (unsigned bit = 0; bit < 8; ++bit)
        if (id.caps.dwProtocols & (1u << bit)) id.protocols.push_back(kProtocolTypes[bit]);

    NETADDRESS_LEVEL2 address{};
    if (!id.protocols.empty() && obj.getBCENetAddress(&address, id.protocols[0]) == 0) id.address = address;

    unsigned long type = 0, raw = 0, family = 0;
    long rc = obj.bidiGetPrinterType(&type, &raw);
    id.type = optionalType(rc, type);
    if (rc == 0) id.rawType = raw;
    rc = obj.bidiGetPrinterFamily(&family);
    id.family = optionalType(rc, family);

    auto tagId = kvbidi::idBytes(kvbidi::kPropertyTagVar);
    void* value = nullptr;
    unsigned long length = 0;
    if (obj.bidiReadOMVar(tagId.data(), &value, &length) == 0 && value != nullptr && length >= 2)
        id.propertyTag = utf8(std::string(static_cast<const char*>(value) + 2, length - 2));
    ::operator delete(value);
    return partOf(std::move(id), identityJson, renderIdentity);
}

json deviceCharsJson(const KVPrtObj::DEVICECHARS& dc) {
    return {{"text1", utf8(dc.strText1)}, {"codeLevel", utf8(dc.strCodeLevel)}, {"text3", utf8(dc.strText3)},
            {"reply2", dc.ulReply2},      {"reply7", dc.byReply7},              {"reply11", dc.ulReply11},
            {"memoryKB", dc.ulSizeKB}};
}

void renderDeviceChars(const KVPrtObj::DEVICECHARS& dc, std::ostream& out) {
    Fields f;
    f.add("Description", utf8(dc.strText1));
    f.add("Base code level", utf8(dc.strCodeLevel));
    f.add("Text 3", utf8(dc.strText3));
    f.add("Memory", std::to_string(dc.ulSizeKB) + " KB");
    f.add("Reply bytes 2, 7, 11", std::to_string(dc.ulReply2) + ", " + std::to_string(dc.byReply7) + ", " +
                                      std::to_string(dc.ulReply11));
    f.print(out);
}

Part gatherDeviceChars(Printer& printer) {
    KVPrtObj::DEVICECHARS dc;
    check(printer.obj().bidiGetDeviceChars(&dc), "bidiGetDeviceChars");
    return partOf(std::move(dc), deviceCharsJson, renderDeviceChars);
}

using CodeLevels = std::vector<KVPrtObj::CODELEVELS>;

json codeLevelsJson(const CodeLevels& levels) {
    json list = json::array();
    for (const KVPrtObj::CODELEVELS& l : levels)
        list.push_back({{"component", l.lComponentId},
                        {"text", componentText(static_cast<unsigned>(l.lComponentId))},
                        {"instance", l.iInstance},
                        {"level", utf8(l.strCodeLevel)}});
    return list;
}

void renderCodeLevels(const CodeLevels& levels, std::ostream& out) {
    Table t({"Code", "Component", "Instance", "Level"});
    for (const KVPrtObj::CODELEVELS& l : levels)
        t.add({std::to_string(l.lComponentId), componentText(static_cast<unsigned>(l.lComponentId)),
               std::to_string(l.iInstance), utf8(l.strCodeLevel)});
    t.print(out);
}

Part gatherCodeLevels(Printer& printer) {
    int count = 0;
    KVPrtObj::CODELEVELS* raw = nullptr;
    long rc = printer.obj().bidiGetCodeLevels(count, &raw);
    std::unique_ptr<KVPrtObj::CODELEVELS[]> levels(raw);
    check(rc, "bidiGetCodeLevels");
    return partOf(raw ? CodeLevels(levels.get(), levels.get() + std::max(count, 0)) : CodeLevels(), codeLevelsJson,
                  renderCodeLevels);
}

}  // namespace

const Section kIdentitySection = {"printer", "Printer", gatherIdentity};
const Section kDeviceCharsSection = {"deviceChars", "Device characteristics", gatherDeviceChars};
const Section kCodeLevelsSection = {"codeLevels", "Code levels", gatherCodeLevels};

void addIdentityCommands(CLI::App& app, Context& ctx) {
    addSectionCommand(app, ctx, "info", "Identity, capabilities and device characteristics",
                      {&kIdentitySection, &kDeviceCharsSection});
    addSectionCommand(app, ctx, "levels", "Code levels of the printer's components", {&kCodeLevelsSection});
}

}  // namespace kvprt
