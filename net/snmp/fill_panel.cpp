// The operator panel (0x43) from prtConsoleDisplayBufferTable, in code page
// 850, and the variables the variable map reads through SNMP objects (the
// panel lock 00 4D from prtConsoleDisable, the contact, the serial number).
#include <algorithm>

#include "fill_parts.h"
#include "pjl_variables.h"
#include "text.h"

namespace kvnet::snmp::detail {
namespace {

// The bounds of a device's display, and the size of one that does not say.
constexpr int kMaxWidth = 80, kMaxHeight = 16, kDefaultWidth = 20, kDefaultHeight = 4;
// The library shows a panel of 20 by 4 characters, whatever the device's:
// longer lines wrap onto the next rows, rows beyond the fourth are left out.
constexpr size_t kLibraryWidth = 20, kLibraryHeight = 4;

int dimension(Printer& p, uint32_t column, int fallback, int max, const char* what) {
    auto declared = p.number(oid::prtGeneralEntry, column);
    if (!declared || *declared <= 0) return fallback;
    if (*declared > max) {
        p.note(std::string(what) + " " + std::to_string(*declared) + " cut to " + std::to_string(max));
        return max;
    }
    return static_cast<int>(*declared);
}

// A display line in code page 850: blanks kept (they place the text), control
// characters made blanks, cut at a NUL and at the panel's width.
std::string panelLine(const std::string& bytes, unsigned charset, int width) {
    std::string utf8 = toUtf8(bytes, charset);
    utf8.resize(std::min(utf8.size(), utf8.find('\0')));
    for (char& c : utf8)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    std::string line = toCp850(utf8);
    if (line.size() > static_cast<size_t>(width)) line.resize(static_cast<size_t>(width));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

void setVariable(kvsim::Profile& profile, uint16_t id, kvsim::Bytes value) {
    for (kvsim::Variable& v : profile.variables)
        if (v.id == id) {
            v.value = std::move(value);
            return;
        }
    profile.variables.push_back({id, std::move(value), false});
}

// A mapped variable's value from its SNMP object; none when the device lacks
// the object or holds a value the variable cannot carry.
std::optional<kvsim::Bytes> mappedValue(Printer& p, kvsim::SnmpObject object) {
    std::optional<std::string> text;
    switch (object) {
    case kvsim::SnmpObject::None: return std::nullopt;
    case kvsim::SnmpObject::ConsoleDisable: {
        // Locked when the console takes no input; the partly enabled levels are unlocked.
        auto disable = p.number(oid::prtGeneralEntry, oid::prtConsoleDisable);
        if (!disable || *disable < oid::consoleEnabled || *disable > oid::consoleEnabledLevel3) return std::nullopt;
        return kvsim::Bytes{static_cast<uint8_t>(*disable == oid::consoleDisabled ? 1 : 0)};
    }
    case kvsim::SnmpObject::SysContact: text = p.view.bytes(oid::sysContact); break;
    case kvsim::SnmpObject::SerialNumber: text = p.bytes(oid::prtGeneralEntry, oid::prtGeneralSerialNumber); break;
    }
    if (!text) return std::nullopt;
    std::string line = p.text(text, 0);
    if (line.find('"') != std::string::npos) return std::nullopt;   // no PJL text can carry it
    return kvsim::Bytes(line.begin(), line.end());
}

}  // namespace

void fillPanel(Printer& p) {
    std::vector<uint32_t> rows = p.rows(oid::prtConsoleDisplayBufferEntry);
    if (!rows.empty()) {
        kvsim::Panel& panel = p.profile.panel;
        int width = dimension(p, oid::prtConsoleNumberOfDisplayChars, kDefaultWidth, kMaxWidth, "display width");
        int height = dimension(p, oid::prtConsoleNumberOfDisplayLines, kDefaultHeight, kMaxHeight, "display height");
        panel.width = static_cast<int>(kLibraryWidth);
        panel.height = static_cast<int>(kLibraryHeight);
        panel.text.clear();
        int lines = 0;
        for (uint32_t row : rows) {
            if (lines++ == height || panel.text.size() == kLibraryHeight) break;
            auto bytes = p.bytes(oid::prtConsoleDisplayBufferEntry, oid::prtConsoleDisplayBufferText, {row});
            std::string line = bytes ? panelLine(*bytes, p.consoleCharset, width) : std::string();
            do {
                panel.text.push_back(line.substr(0, kLibraryWidth));
                line.erase(0, std::min(line.size(), kLibraryWidth));
            } while (!line.empty() && panel.text.size() < kLibraryHeight);
        }
        p.snapshot.answer(kvbidi::kPanelText);
    }

    for (const kvsim::PjlVariable& v : kvsim::pjlVariables()) {
        std::optional<kvsim::Bytes> value = mappedValue(p, v.snmp);
        if (!value) continue;
        setVariable(p.profile, v.id, std::move(*value));
        p.snapshot.answer(kvbidi::kReadOMVar);
        p.snapshot.answer(kvbidi::kReadMultiOMVars);
    }
}

}  // namespace kvnet::snmp::detail
