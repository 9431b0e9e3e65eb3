// printer-state-reasons as alert records. A keyword is a base and a suffix
// ("media-empty-warning"): the base decides the records (reasons_table.cpp),
// the suffix the severity. A "-report" reason is informational and gives no
// record, as does "none"; printers turn "-error" and "-warning" into
// "-report" once a condition is over. "other", and keywords the table does
// not know that carry "-error" or "-warning", give the generic record of
// their severity.
//
// A record about trays or supplies names the item in its instance byte: the
// items in that condition (an empty tray for media-empty), else the only
// item of its kind, else 0xFF (a supplies-family record is then left out).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "attributes.h"
#include "snapshot.h"
#include "supplies.h"
#include "trays.h"

namespace kvnet::ipp {

enum class Severity : uint8_t { Report, Warning, Error };

struct Reason {
    std::string base;
    Severity severity = Severity::Error;   // a keyword without suffix is an error (RFC 8011)
    bool suffixed = false;
};
Reason splitReason(std::string_view keyword);

// The items a record's instance names.
enum class Items : uint8_t {
    Fixed,              // the instance as written
    EmptyInput, LowInput, UnavailableInput,
    FullOutput, NearlyFullOutput,
    EmptyToner, LowToner,       // consumed toner or ink
    EmptySupply, LowSupply,     // any consumed supply
    NearlyFullWaste,            // receptacles
    LowDeveloper,
};

struct ReasonRecord {
    uint16_t run = 0;   // request 6 to 11; 0: no record
    uint8_t category = 0, instance = 0, condition = 0;
    Items items = Items::Fixed;
    uint8_t conditionAbove4 = 0;   // the condition for instances 5 and up, when not 0
};

struct ReasonRow {
    const char* keyword;   // base keyword
    ReasonRecord records[2];
};

// The table of base keywords.
std::span<const ReasonRow> reasonRows();
// The row of `base`, or null.
const ReasonRow* findReason(std::string_view base);
// The record of "other" (and of unknown keywords) of severity `severity`.
ReasonRecord otherReason(Severity severity);

// Adds the records of every reason in printer-state-reasons.
void fillReasons(const Attributes& printer, const Trays& trays, const std::vector<Supply>& supplies,
                 Snapshot* snapshot);

}  // namespace kvnet::ipp
