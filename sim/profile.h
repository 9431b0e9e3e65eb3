// A simulated printer's profile: everything the printer reports, as loaded
// and checked from JSON (docs/simulator.md describes every field). Texts are
// held as the bytes the printer sends: ISO 8859-1, the panel in code page 850.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvprtobj/bidicodes.h"
#include "kvprtobj/zorbce.h"
#include "storage.h"

namespace kvsim {

using Bytes = std::vector<uint8_t>;

struct NameEntry {
    uint32_t netType = 0;
    std::string name, address;
};

struct StatusRecord {   // input and output status
    uint8_t id = 0, present = 0, status = 0;
};

struct AlertRecord {   // a record of the alert runs of requests 6 to 11
    uint8_t category = 0, instance = 0, condition = 0;
    Bytes extra;
};

struct SupplyStatusRecord {   // request 13: four bytes, no extra data
    uint8_t category = 0, instance = 0, condition = 0, value = 0;
};

struct PageCount {
    uint8_t type = 0;
    uint32_t count = 0;
};

struct DeviceChars {
    uint8_t byte2 = 0, byte7 = 0, byte11 = 0;
    uint32_t memoryBytes = 0;
    std::string text1, codeLevel, text3;
};

struct InputBin {
    uint8_t number = 0;
    uint32_t capacity = 0;
    uint8_t byte8 = 0, sizeCode = 0;
    std::string name, text2;
};

struct OutputBin {
    uint8_t number = 0, byte1 = 0;
    uint32_t capacity = 0;
    uint8_t byte6 = 0, byte7 = 0;
    std::string name;
};

struct Interpreter {
    uint8_t lu = 0;
    uint16_t marker = 0;   // reply bytes 7-8 of the entry
    std::string name;
};

struct Font {
    uint8_t tag = 0, tag2 = 0;
    std::optional<uint8_t> selector1, selector2;   // listed only for these selectors
    std::string description;                       // "name: Courier; position: 1; ssid: 8U; "
};

struct SymbolSet {
    uint16_t id = 0;
    std::array<uint8_t, 8> complement{};
    std::string name;
};

struct CurrentFont {
    uint8_t tag = 0;
    uint16_t position = 0, symbolSet = 0;
    uint32_t size = 0;
};

struct Job {
    uint8_t byte0 = 0;
    uint16_t number = 0;
    uint8_t byte3 = 0;
    uint8_t priority = 0;   // record byte 4
    uint16_t word5 = 0, word7 = 0;
    std::array<uint8_t, 4> bytes9{};
    uint8_t byte13 = 0;
    uint32_t long17 = 0, long21 = 0, long25 = 0, long29 = 0, long33 = 0, long37 = 0;
    std::string info1, info2;   // job-information texts: "JN=report;UR=alice"
};

struct CustomName {
    uint8_t number = 0;
    std::string name;
};

struct PanelButton {
    uint8_t code = 0;
    std::string name;
    std::optional<std::vector<std::string>> text;   // panel lines after the press
    std::optional<uint8_t> lock;                    // lock value after the press
};

struct Panel {
    int width = 20, height = 4;
    std::vector<std::string> text;         // lines, code page 850
    std::vector<std::string> lockedText;   // shown while locked, when given
    std::vector<PanelButton> buttons;
};

struct TonerSupply {
    uint8_t id = 0;
    // format 1
    uint32_t valueA = 0, pageCount = 0, basePageCount = 0, valueB = 0;
    uint8_t levelCount = 0, level = 0, valueC = 0;
    Bytes counted;
    uint32_t valueD = 0;
    uint16_t adjustHigh = 0, adjustLow = 0, stepHigh = 0, stepLow = 0, step = 0;
    // format 2
    uint8_t attribute = 0;
};

struct Toner {
    Bytes leading;
    uint8_t byte2 = 0, common = 0, format = 1;
    std::vector<TonerSupply> supplies;
};

struct Variable {
    uint16_t id = 0;
    Bytes value;
    bool readOnly = false;
};

struct ProfileAlert {
    std::string name;
    uint16_t family = 0;
    Bytes data;   // as BceQueryAlerts hands it back
};

// The longest value of a variable-event alert and the longest alert data
// given raw: room for the data of any alert a profile describes (a toner
// alert of 255 supplies is some 74 KB).
constexpr size_t kMaxEventValue = 1024;
constexpr size_t kMaxAlertData = 128u << 10;

// Alert families.
constexpr uint16_t kFamilyDeviceStatus = kvbidi::kDeviceStatusAlert;
constexpr uint16_t kFamilyJobStatus = kvbidi::kJobStatusAlert;
constexpr uint16_t kFamilyOperatorPanel = kvbidi::kPanelAlert;
constexpr uint16_t kFamilyJobTransition = kvbidi::kJobTransitionAlert;
constexpr uint16_t kFamilyVariableEvent = kvbidi::kOMVarEventAlert;
constexpr uint16_t kFamilyToner = kvbidi::kTonerAlert;

// The panel lock, the property tag and the toner page count (object-model
// variables) and the miscellaneous variables the library reads.
constexpr uint16_t kVarPanelLock = kvbidi::kPanelLockVar;
constexpr uint16_t kVarPropertyTag = kvbidi::kPropertyTagVar;
constexpr uint16_t kVarTonerPageCount = kvbidi::kTonerPageCountVar;
constexpr uint16_t kMiscCodeLevels = kvbidi::kCodeLevelsVar;
constexpr uint16_t kMiscPrinterType = kvbidi::kPrinterTypeVar;
constexpr uint16_t kMiscFamily = kvbidi::kPrinterFamilyVar;

struct Profile {
    std::string name = "sim";

    PRTINFO info{};
    std::vector<NameEntry> names;
    NETADDRESS_LEVEL2 netAddress{};

    std::array<uint8_t, 3> deviceStatus{};
    std::vector<StatusRecord> inputStatus, outputStatus;
    // Alert runs by request code: 6 jams, 7 operator intervention, 8 warnings,
    // 9 service required, 10 configuration changes, 11 supplies.
    std::map<uint16_t, std::vector<AlertRecord>> alertRuns;
    std::vector<SupplyStatusRecord> suppliesStatus;

    std::vector<PageCount> pageCounts;
    uint8_t hostPageCountType = 2;

    DeviceChars deviceChars;
    std::vector<InputBin> inputBins;
    std::vector<OutputBin> outputBins;
    std::vector<std::string> storage;
    std::vector<StorageDevice> storageDevices;
    std::vector<Interpreter> interpreters;
    Bytes fontHeader;
    std::vector<Font> fonts;
    std::vector<SymbolSet> symbolSets;
    CurrentFont currentFont;
    uint8_t setFontStatus = 0;

    std::vector<Job> jobs;
    std::vector<CustomName> formNames, binNicknames;
    Panel panel;
    Toner toner;
    std::vector<uint8_t> ports;
    std::vector<Variable> variables, miscVariables;
    std::vector<ProfileAlert> alerts;
};

// Loads a profile from JSON text, with `overlay` (a JSON merge patch, RFC 7386,
// such as the faults of kvprtsimd --faulty) laid over it first when given. On
// failure returns false and `error` names the field: "inputBins[2].capacity:
// expected an unsigned number below 2^32".
bool loadProfile(std::string_view json, Profile* profile, std::string* error, std::string_view overlay = {});
// The largest profile file read.
constexpr size_t kMaxProfileSize = 4u << 20;
// Reads a profile file's text: a regular file of at most kMaxProfileSize
// bytes. False with a message otherwise, or when it cannot be read.
bool readProfileFile(const std::string& path, std::string* text, std::string* error);

}  // namespace kvsim
