// The alert mapping of the SNMP fill as data: which records of the alert
// runs (requests 6 to 11) a prtAlertTable row, a bit of
// hrPrinterDetectedErrorState or a supply level gives, so that the library's
// fixed tables (alerts/alert_tables.cpp) decode the intended alert id. One
// row per condition (docs/realprinters.md, "Alerts"), checked at compile time
// (alert_table.cpp).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace kvnet::snmp::alertmap {

// The alert runs by request code.
constexpr uint16_t kJams = 0x06, kOperator = 0x07, kWarnings = 0x08, kService = 0x09, kConfig = 0x0A,
                   kSupplies = 0x0B;

// What a row's group index names, found by the fill in the device's tables.
enum class Subject : uint8_t {
    None,          // the group has no items the records name, or the index is unknown
    Input,         // item: the library's input bin number
    Output,        // item: the output bin number
    Toner,         // a marker supply of toner or ink; item: the supply index
    Receptacle,    // a receptacle that fills (waste toner, waste ink)
    Opc,           // photoconductor
    Fuser,
    Staples,
    OtherSupply,
    DuplexPath,    // a media path of a duplex type
    OtherPath,
    Disk, Flash, Memory, OtherStorage,   // hrStorage rows by type
    Finisher,      // finisher groups; item: the group index
};
const char* subjectName(Subject subject);

// One prtAlertTable row as the mapping sees it.
struct AlertEvent {
    int64_t severity = 0;   // PrtAlertSeverityLevelTC
    int64_t training = 0;   // PrtAlertTrainingLevelTC
    int64_t group = 0;      // PrtAlertGroupTC
    int64_t code = 0;       // PrtAlertCodeTC
    Subject subject = Subject::None;
    int item = -1;          // the subject's number in the library's terms; -1 when none
};

// A record of an alert run.
struct Record {
    uint16_t run = 0;
    uint8_t category = 0, instance = 0, condition = 0;
    bool operator==(const Record&) const = default;
};

// ---- the tables' shapes ----

// A short list of numbers in a row (codes, groups, subjects, bits).
struct List {
    uint16_t item[12] = {};
    uint8_t size = 0;
    constexpr List() = default;
    constexpr List(std::initializer_list<uint16_t> items) {
        for (uint16_t v : items) item[size++] = v;
    }
    constexpr bool empty() const { return size == 0; }
    constexpr bool has(int64_t v) const {
        for (uint8_t i = 0; i < size; ++i)
            if (item[i] == v) return true;
        return false;
    }
};

// A record with its instance: a fixed byte, the item when it lies in lo..hi,
// or a fixed byte only when there is no item. A shape that does not take the
// event's item gives nothing, and the next shape of the target is tried.
struct Shape {
    enum class Instance : uint8_t { None, Fixed, Item, NoItem };
    uint16_t run = 0;
    uint8_t category = 0;
    Instance how = Instance::None;
    uint8_t instance = 0, lo = 0, hi = 0;
    uint8_t condition = 0;
};
constexpr Shape fixed(uint16_t run, uint8_t category, uint8_t instance, uint8_t condition) {
    return {run, category, Shape::Instance::Fixed, instance, 0, 0, condition};
}
constexpr Shape item(uint16_t run, uint8_t category, uint8_t lo, uint8_t hi, uint8_t condition) {
    return {run, category, Shape::Instance::Item, 0, lo, hi, condition};
}
constexpr Shape noItem(uint16_t run, uint8_t category, uint8_t instance, uint8_t condition) {
    return {run, category, Shape::Instance::NoItem, instance, 0, 0, condition};
}
// Up to two shapes, the first that applies gives the record.
struct Target {
    Shape first, second;
};

// Which severities a row matches.
enum class Severity : uint8_t {
    Any,
    Current,    // critical(3), warning(4), other(1): conditions present now
    Critical,
    Warning,    // warning(4) or other(1)
    Event,      // warningBinaryChangeEvent(5)
};

// One condition: the rows are tried in order and the first that matches an
// event gives its records (none: the event is noise and dropped).
struct AlertRule {
    const char* name;
    List codes;      // empty: any code
    List groups;     // empty: any group
    List subjects;   // of Subject; empty: any
    Severity severity = Severity::Current;
    bool fieldService = false;   // matches only rows for field service (training level 5)
    Target main;                 // the record in the condition's run
    Target supplies;             // a record of the supplies run besides (run 11)
};

// A bit of hrPrinterDetectedErrorState.
struct ErrorBitRule {
    enum class Items : uint8_t { None, EmptyInputs, LowInputs, MissingInputs, NearFullOutputs, FullOutputs };
    uint8_t bit;
    const char* name;
    Items items;    // which inputs or outputs the records name, from their levels and status
    Target target;  // for each item (or once, without items)
    List coveredBy; // alert codes that report the same condition more precisely
};

std::span<const AlertRule> alertRules();
// The name of a PrtAlertCodeTC value ("jam"), or null.
const char* alertCodeName(int64_t code);
std::span<const ErrorBitRule> errorBitRules();

// The records one alert row gives; `rule`, when given, receives the row that
// matched (null when none did).
std::vector<Record> mapAlert(const AlertEvent& event, const AlertRule** rule = nullptr);
// The records of error-state bit `bit` for the items it names (the inputs or
// outputs concerned; empty: none known).
std::vector<Record> mapErrorBit(const ErrorBitRule& rule, const std::vector<int>& items);

// Supplies run records synthesized from a level (devices without an alert
// table): below 10 % low, 0 empty; a receptacle with less than 10 % of its
// space left is nearly full.
enum class SupplyState : uint8_t { Low, Empty };
std::vector<Record> supplyRecords(Subject subject, int index, SupplyState state);

// The record of one shape for `item`, if the shape takes it.
bool applyShape(const Shape& shape, int item, Record* record);

}  // namespace kvnet::snmp::alertmap
