// A printer's state from what its IPP service answered (RFC 8011, PWG 5100.x):
// printer-state and printer-state-reasons, supplies (printer-supply, else the
// marker-* attributes), trays, firmware versions, make and model, and the job
// list, read into the simulator's terms (snapshot.h). The state reasons map to
// alert records through reasons_table.cpp. SNMP fills the snapshot first:
// where both protocols carry a thing (device status, supplies, trays), IPP
// fills only what SNMP did not; alert records are added to SNMP's.
//
// Nothing is trusted: missing attributes, wrong value types, levels that are
// not measurements, counts beyond what a reply can carry (cut, with a note).
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "attributes.h"
#include "snapshot.h"

namespace kvnet::ipp {

// Job ids above 65535 get stable 16-bit numbers, so that the job list's
// numbers can be passed back to Cancel-Job. An id up to 65535 keeps its own
// number unless an alias holds it; aliases are taken from 65535 down, away
// from the small ids printers count up from.
class JobNumbers {
public:
    // The number of `jobId` (1..65535); 0 when every number is in use.
    uint16_t numberOf(int32_t jobId);
    std::optional<int32_t> jobIdOf(uint16_t number) const;
    // Forgets the jobs that are no longer listed.
    void keepOnly(const std::vector<int32_t>& listed);

private:
    std::map<int32_t, uint16_t> m_numbers;
    std::map<uint16_t, int32_t> m_ids;
    uint16_t m_next = 0xFFFF;
};

// The Get-Printer-Attributes attributes the fill reads.
const std::vector<std::string>& printerAttributes();

void fillPrinter(const Attributes& printer, Snapshot* snapshot);
// The job list (request 0x75) from Get-Jobs' job groups, in the printer's
// order, cut where the reply would pass the library's largest reply.
void fillJobs(const std::vector<Attributes>& jobs, JobNumbers& numbers, Snapshot* snapshot);

}  // namespace kvnet::ipp
