// One poll of a printer: the report's poll sections (device status, the
// alerts of every family, operator panel, toner, page counts) gathered by
// kvprt's own section code, each section (and each alert family) one
// operation of a KVPrtObjBatch, so that their requests go out together; and
// the data of alerts the printer announced since the last poll.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <kvprtobj/kvprtobj.h>
#include <nlohmann/json.hpp>

#include "session.h"
#include "state.h"

namespace kvprtd {

// An alert the printer announced, to be read with the next poll.
struct AnnouncedAlert {
    unsigned short id = 0;
    unsigned long family = 0;
};

// What reading an announced alert gave.
struct AlertRead {
    AnnouncedAlert alert;
    std::string familyName;   // empty for a family kvprt does not decode
    std::string line;         // its data in words, or why it could not be read
    bool ok = false;
};

struct PollResult {
    Health health = Health::Unknown;
    std::string error;        // why it is down
    bool pagesKnown = false;
    bool suppliesKnown = false;
    uint16_t familiesKnown = 0;
    uint32_t pages[kPageCountTypes] = {};
    std::vector<ActiveAlert> alerts;
    std::vector<Supply> supplies;
    std::string json;         // the poll sections, compact
    std::vector<AlertRead> announced;
    double seconds = 0;       // from start to the last reply
};

// The report's sections that a poll does not gather (identity,
// characteristics, bins, storage, code levels, interpreters, jobs), with
// synchronous calls: a JSON object, each failed section holding {"error"}.
std::string gatherOtherSections(kvprt::Printer& printer);
// Whether a poll gathers the report's section `key`.
bool isPollSection(const std::string& key);

class Poll {
public:
    // `printer` must not be used otherwise until the poll is done.
    Poll(kvprt::Printer& printer, std::vector<AnnouncedAlert> announced);
    Poll(const Poll&) = delete;
    Poll& operator=(const Poll&) = delete;

    // Sends the requests; `done` is called once every section has its result
    // (on the engine's thread, or on this one before start returns).
    void start(std::function<void()> done);
    // The outcome, once done (taken once).
    PollResult takeResult() { return std::move(m_result); }

private:
    using json = nlohmann::ordered_json;
    struct Part {
        json value;
        long rc = KVPrtObjBatch::kPending;
        std::string error;
    };
    // Adds an operation that runs `gather` on the batch's printer object into `part`.
    void add(Part& part, std::function<json(kvprt::Printer&)> gather);
    // The outcome from the parts.
    PollResult compact() const;

    kvprt::Printer& m_printer;
    std::vector<Part> m_sections;      // kPollSections' order
    std::vector<Part> m_families;      // the alert families' order
    std::vector<AnnouncedAlert> m_announced;
    std::vector<Part> m_alertReads;
    std::chrono::steady_clock::time_point m_started;
    PollResult m_result;               // once done; the parts are freed then
    KVPrtObjBatch m_batch;             // last: its destructor waits for the replies
};

}  // namespace kvprtd
