// A printer as the standard protocols told it, in the simulator's terms: the
// replies to read requests are encoded from `profile` by the simulator's own
// encoders, so a net:// reply cannot differ in layout from a sim: one. The
// fills of each protocol (snmp/fill.h, ipp/fill.h) write into a snapshot;
// the printer swaps in a new one whole, so reads never see half a refresh.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "profile.h"

namespace kvnet {

struct Snapshot {
    kvsim::Profile profile;
    // The read request codes some source answered; the others get -3.
    std::set<uint16_t> answered;
    // Truncations and quirks met while filling, for the trace (at most kMaxNotes).
    std::vector<std::string> notes;

    static constexpr size_t kMaxNotes = 64;

    void answer(uint16_t code) { answered.insert(code); }
    bool answers(uint16_t code) const { return answered.count(code) != 0; }
    void note(std::string text) {
        if (notes.size() < kMaxNotes) notes.push_back(std::move(text));
    }
    // Adds a record to the alert run of request `run` (6 to 11) unless one
    // with the same category, instance and condition is there (two sources
    // reporting one condition give one record). Marks `run` answered.
    void addAlert(uint16_t run, uint8_t category, uint8_t instance, uint8_t condition);
    // Adds a supplies-status record (request 13) unless one for the same
    // category and instance is there. Marks request 13 answered.
    void addSupplyStatus(uint8_t category, uint8_t instance, uint8_t condition, uint8_t value);
    // Adds a storage option (request 0x14) of a flash or disk, the next of
    // its kind, with its sizes in kilobytes (-1 unknown). Marks 0x14 answered.
    void addStorageOption(bool flash, int64_t sizeKb, int64_t freeKb);
};

}  // namespace kvnet
