// The SNMP fill's parts and what they share: the printer's rows read once
// from the view (its hrDeviceIndex, character sets, input and output bins
// with the library's numbers, supplies, alert rows), and the helpers that read
// values without trusting them. Each part fills one concern of the snapshot
// (fill_status.cpp, fill_alerts.cpp, fill_supplies.cpp, fill_inventory.cpp,
// fill_identity.cpp, fill_panel.cpp); fill.cpp runs them in order.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "alert_table.h"
#include "mib.h"
#include "oids.h"
#include "snapshot.h"

namespace kvnet::snmp::detail {

// The longest counted text of a reply.
constexpr size_t kMaxCounted = 255;
// The most records one count byte carries.
constexpr size_t kMaxRecords = 255;

struct Input {
    uint32_t index = 0;      // prtInputIndex
    uint8_t number = 0;      // the library's bin number: 1 manual paper, 2 manual envelope, 3 tray 1, ...
    kvsim::StatusRecord status;   // filled by fillStatus
};

struct Output {
    uint32_t index = 0;      // prtOutputIndex
    uint8_t number = 0;      // 1, 2, ... in index order
    kvsim::StatusRecord status;
};

// How a supply's level reads.
enum class LevelKind : uint8_t { Measured, SomeRemaining, Unknown };
struct Level {
    LevelKind kind = LevelKind::Unknown;
    unsigned percent = 0;   // Measured: 0-100 (of the space left, for a receptacle)
};

struct Supply {
    uint32_t index = 0;      // prtMarkerSuppliesIndex
    uint32_t marker = 0;     // prtMarkerSuppliesMarkerIndex (0: not told)
    int64_t supplyClass = 0, type = 0, unit = 0;
    std::optional<int64_t> max, level;
    alertmap::Subject kind = alertmap::Subject::OtherSupply;
    bool receptacle() const { return kind == alertmap::Subject::Receptacle; }
    bool staples() const { return kind == alertmap::Subject::Staples; }
    Level reading() const;
};

// A prtAlertTable row of the printer that is not noise.
struct AlertRow {
    uint32_t index = 0;
    int64_t severity = 0, training = 0, group = 0, groupIndex = -1, code = 0;
    bool current() const { return severity != oid::warningBinaryChangeEvent; }
};

class Printer {
public:
    // `address`: the printer's address as the client reached it.
    Printer(const MibView& view, const std::string& address, Snapshot* snapshot);

    const MibView& view;
    Snapshot& snapshot;
    kvsim::Profile& profile;
    std::string address;
    uint32_t device = 1;   // hrDeviceIndex of the printer

    unsigned charset = 0;          // of the localized texts (prtGeneralCurrentLocalization)
    unsigned consoleCharset = 0;   // of the console (prtConsoleLocalization)
    std::vector<Input> inputs;     // in bin-number order
    std::vector<Output> outputs;
    std::vector<Supply> supplies;  // in index order, indexes 1-255 only
    bool hasAlertTable = false;    // rows, or the alert counters of prtGeneral
    std::vector<AlertRow> alerts;
    std::optional<std::string> errorState;   // hrPrinterDetectedErrorState, 1 or 2 octets

    // A cell of a table indexed by (device, index...) or by the device alone.
    Oid cell(const Oid& entry, uint32_t column, std::initializer_list<uint32_t> index = {}) const;
    std::optional<int64_t> number(const Oid& entry, uint32_t column, std::initializer_list<uint32_t> index = {}) const;
    std::optional<std::string> bytes(const Oid& entry, uint32_t column,
                                     std::initializer_list<uint32_t> index = {}) const;
    // A Counter32 read as one: INTEGER values below 0 (a counter typed INTEGER
    // that passed 2^31) are taken modulo 2^32, larger values cut to 2^32 - 1;
    // `what` names it in the notes.
    std::optional<uint32_t> counter(const Oid& oid, const char* what);
    // The indexes of a (device, index) table's rows, ascending: every index
    // that some column of the device has.
    std::vector<uint32_t> rows(const Oid& entry) const;
    // A device text as one line of ISO 8859-1 of at most `max` bytes: the
    // bytes in `set` (0: guessed), cut at the first NUL, a second line of hex
    // digits dropped, line breaks and runs of blanks made one blank.
    std::string text(const std::optional<std::string>& bytes, unsigned set, size_t max = kMaxCounted) const;

    const Input* inputByIndex(int64_t index) const;
    const Output* outputByIndex(int64_t index) const;
    const Supply* supplyByIndex(int64_t index) const;
    // The current alert row on `group` item `index` with one of `codes`.
    bool hasCurrentAlert(int64_t group, int64_t index, std::initializer_list<int64_t> codes) const;
    // A current alert row with one of `codes` on any group.
    bool hasCurrentAlert(const alertmap::List& codes) const;
    // Whether bit `bit` of the error state is set.
    bool errorBit(unsigned bit) const;

    void note(std::string text) { snapshot.note(std::move(text)); }
};

// The printer's hrDeviceIndex: the hrDeviceTable row whose type is a printer
// (one with a prtGeneral row first), else the first prtGeneral row, else 1.
uint32_t printerDevice(const MibView& view);

void readInputs(Printer& p);
void readOutputs(Printer& p);
void readSupplies(Printer& p);
void readAlerts(Printer& p);

void fillStatus(Printer& p);      // 0x01-0x03 (fill_status.cpp)
void fillAlerts(Printer& p);      // 0x06-0x0B
void fillSupplies(Printer& p);    // 0x0C, 0x0D, 0x9A
void fillInventory(Printer& p);   // 0x10, 0x12-0x14, 0x20, 0x9B
void fillIdentity(Printer& p);    // PRTINFO, names, network address
void fillPanel(Printer& p);       // 0x43, the panel lock 00 4D (0x4E, 0x94)

}  // namespace kvnet::snmp::detail
