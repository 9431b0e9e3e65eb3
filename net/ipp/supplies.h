// Marker supplies from IPP: PWG's printer-supply ("index=1;class=
// supplyThatIsConsumed;type=toner;unit=percent;maxcapacity=100;level=75;"),
// else the CUPS attributes marker-names/-types/-levels/-low-levels/
// -high-levels (levels in percent). Filled as supplies-status records
// (request 0x0D) and toner records (request 0x9A).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "attributes.h"
#include "snapshot.h"

namespace kvnet::ipp {

// Supplies-status values that are not a percentage.
constexpr uint8_t kSomeRemaining = 254;   // level -3: not measured, not empty
constexpr uint8_t kLevelUnknown = 255;    // level -1, -2, or no capacity to measure against
// The remaining percent at or below which a supply is low (a receptacle:
// nearly full) when the printer gives no threshold.
constexpr uint8_t kDefaultNearPercent = 10;

struct Supply {
    uint8_t index = 0;          // 1..255
    bool receptacle = false;    // a receptacle that fills (waste): its level is the space left
    std::string type;           // folded keyword (foldKeyword): "toner", "wastetoner", "opc", ...
    std::string unit;           // folded keyword: "percent", "impressions", ...
    int32_t max = -2, level = -2;
    uint8_t nearPercent = kDefaultNearPercent;

    // The supplies-status value: percent remaining (receptacle: percent of
    // space left), kSomeRemaining or kLevelUnknown.
    uint8_t value() const;
    bool tonerOrInk() const;
};

// The printer's supplies, bounded to indexes 1..255 (others dropped with a note).
std::vector<Supply> readSupplies(const Attributes& printer, Snapshot* snapshot);
// Supplies-status and toner records, unless the snapshot holds them already.
void fillSupplies(const std::vector<Supply>& supplies, uint32_t impressions, Snapshot* snapshot);

}  // namespace kvnet::ipp
