// Who the printer is: identity and capabilities, device characteristics and
// code levels (commands info and levels).
#include <cstdio>
#include <cstring>

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

json optionalType(long rc, unsigned long value) {
    return rc == 0 && value != KVPrtObj::PRINTER_TYPE_UNKNOWN ? json(value) : json(nullptr);
}

json gatherIdentity(Printer& printer) {
    KVPrtObj& obj = printer.obj();
    PRTINFO info{};
    check(obj.bidiGetPrinterInfo(&info), "bidiGetPrinterInfo");
    KVPrtObj::BIDICAPABILITIES caps;
    obj.getBidiCaps(&caps);

    json protocols = json::array();
    for (unsigned bit = 0; bit < 8; ++bit)
        if (caps.dwProtocols & (1u << bit)) protocols.push_back(kProtocolTypes[bit]);

    json j = {
        {"uri", printer.uri()},
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
        {"protocols", protocols},
        {"adapterAddress", textOrNull(caps.strAdapterAddress)},
        {"names", {{"net1", textOrNull(caps.strNetName1)}, {"net2", textOrNull(caps.strNetName2)},
                   {"net3", textOrNull(caps.strNetName3)}}},
        {"addresses", textOrNull(caps.strAddresses)},
        {"addressCount", caps.nAddressCount},
        {"capturedPorts", textOrNull(caps.strCapturedPorts)},
    };

    // The network address, over the first network type the printer is reached by.
    j["networkAddress"] = nullptr;
    NETADDRESS_LEVEL2 address{};
    if (!protocols.empty() && obj.getBCENetAddress(&address, protocols[0].get<unsigned>()) == 0)
        j["networkAddress"] = {{"hostName", field(address.szHostName)},
                               {"address", field(address.szAddress)},
                               {"port", address.ulPort}};

    unsigned long type = 0, raw = 0, family = 0;
    long rc = obj.bidiGetPrinterType(&type, &raw);
    j["printerType"] = optionalType(rc, type);
    j["rawPrinterType"] = rc == 0 ? json(raw) : json(nullptr);
    rc = obj.bidiGetPrinterFamily(&family);
    j["family"] = optionalType(rc, family);

    auto tagId = kvbidi::idBytes(kvbidi::kPropertyTagVar);
    void* value = nullptr;
    unsigned long length = 0;
    j["propertyTag"] = nullptr;
    if (obj.bidiReadOMVar(tagId.data(), &value, &length) == 0 && value != nullptr && length >= 2)
        j["propertyTag"] = utf8(std::string(static_cast<const char*>(value) + 2, length - 2));
    ::operator delete(value);
    return j;
}

void renderIdentity(const json& j, std::ostream& out) {
    Fields f;
    f.add("Model", cell(j["model"]));
    f.add("Serial number", cell(j["serial"]));
    f.add("Port", cell(j["portName"]));
    const json& c = j["connection"];
    f.add("Connection", cell(c["text"]) + " (kind " + cell(c["kind"]) + ", type code " + cell(c["netTypeCode"]) +
                            ", sub-code " + cell(c["netSubCode"]) + ")");
    std::string protocols;
    for (const json& p : j["protocols"]) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", p.get<unsigned>());
        protocols += (protocols.empty() ? "" : ", ") + std::string(hex);
    }
    f.add("Network types", protocols.empty() ? "-" : protocols);
    f.add("Bidi", std::string(j["bidiCapable"].get<bool>() ? "capable" : "not capable") +
                      (j["bidiActive"].get<bool>() ? ", active" : ", inactive"));
    for (const char* key : {"net1", "net2", "net3"})
        if (!j["names"][key].is_null()) f.add(std::string("Name (") + key + ")", cell(j["names"][key]));
    f.add("Addresses", cell(j["addresses"]));
    f.add("Adapter address", cell(j["adapterAddress"]));
    if (const json& a = j["networkAddress"]; !a.is_null())
        f.add("Network address", cell(a["hostName"]) + " " + cell(a["address"]) + " port " + cell(a["port"]));
    if (!j["capturedPorts"].is_null()) f.add("Captured ports", cell(j["capturedPorts"]));
    f.add("Printer type", cell(j["printerType"]) + " (reported " + cell(j["rawPrinterType"]) + ")");
    f.add("Printer family", cell(j["family"]));
    f.add("Property tag", cell(j["propertyTag"]));
    f.print(out);
}

json gatherDeviceChars(Printer& printer) {
    KVPrtObj::DEVICECHARS dc;
    check(printer.obj().bidiGetDeviceChars(&dc), "bidiGetDeviceChars");
    return {{"text1", utf8(dc.strText1)}, {"codeLevel", utf8(dc.strCodeLevel)}, {"text3", utf8(dc.strText3)},
            {"reply2", dc.ulReply2},      {"reply7", dc.byReply7},              {"reply11", dc.ulReply11},
            {"memoryKB", dc.ulSizeKB}};
}

void renderDeviceChars(const json& j, std::ostream& out) {
    Fields f;
    f.add("Description", cell(j["text1"]));
    f.add("Base code level", cell(j["codeLevel"]));
    f.add("Text 3", cell(j["text3"]));
    f.add("Memory", cell(j["memoryKB"]) + " KB");
    f.add("Reply bytes 2, 7, 11", cell(j["reply2"]) + ", " + cell(j["reply7"]) + ", " + cell(j["reply11"]));
    f.print(out);
}

json gatherCodeLevels(Printer& printer) {
    int count = 0;
    KVPrtObj::CODELEVELS* levels = nullptr;
    long rc = printer.obj().bidiGetCodeLevels(count, &levels);
    json list = json::array();
    for (int i = 0; levels != nullptr && i < count; ++i)
        list.push_back({{"component", levels[i].lComponentId},
                        {"text", componentText(static_cast<unsigned>(levels[i].lComponentId))},
                        {"instance", levels[i].iInstance},
                        {"level", utf8(levels[i].strCodeLevel)}});
    delete[] levels;
    check(rc, "bidiGetCodeLevels");
    return list;
}

void renderCodeLevels(const json& j, std::ostream& out) {
    printColumns(out, j, {{"Code", "component"}, {"Component", "text"}, {"Instance", "instance"}, {"Level", "level"}});
}

}  // namespace

const Section kIdentitySection = {"printer", "Printer", gatherIdentity, renderIdentity};
const Section kDeviceCharsSection = {"deviceChars", "Device characteristics", gatherDeviceChars, renderDeviceChars};
const Section kCodeLevelsSection = {"codeLevels", "Code levels", gatherCodeLevels, renderCodeLevels};

void addIdentityCommands(CLI::App& app, Context& ctx) {
    addSectionCommand(app, ctx, "info", "Identity, capabilities and device characteristics",
                      {&kIdentitySection, &kDeviceCharsSection});
    addSectionCommand(app, ctx, "levels", "Code levels of the printer's components", {&kCodeLevelsSection});
}

}  // namespace kvprt
