// One poll of a printer: the report's poll sections (device status, the
// alerts of every family, operator panel, toner, page counts) read into
// kvprt's typed records (records.h), each read (and each alert family) one
// operation of a KVPrtObjBatch, so that their requests go out together; and
// the data of alerts the printer announced since the last poll. The records
// are kept as read; the sections' JSON is rendered from them when asked
// (sections.h). A poll is the monitor's poll step, made and run by steps.cpp,
// where it is implemented.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <kvprtobj/kvprtobj.h>

#include "records.h"
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

// The poll sections' records as the last poll read them.
struct PollRecords {
    kvprt::Reading<KVPrtObj::PRINTERSTATUS> deviceStatus;
    std::vector<kvprt::Reading<kvprt::AlertList>> families;   // kvprt's alert families' order
    kvprt::Reading<kvprt::PanelRecord> panel;
    kvprt::Reading<kvprt::TonerList> toner;
    kvprt::Reading<KVPrtObj::PAGECOUNTDATA> pageCounts;
};

struct PollResult {
    Health health = Health::Unknown;
    std::string error;        // why it is down
    long errorCode = 0;       // ... as a result code (0: none)
    std::string reason;       // ... as the system said it ("connection refused"), when known
    bool pagesKnown = false;
    bool suppliesKnown = false;
    uint16_t familiesKnown = 0;
    uint32_t pages[kPageCountTypes] = {};
    std::vector<ActiveAlert> alerts;
    std::vector<Supply> supplies;
    std::shared_ptr<const PollRecords> records;   // none for a printer not polled (down before its poll)
    std::vector<AlertRead> announced;
    double seconds = 0;       // from start to the last reply
};

class Poll {
public:
    // `printer` must not be used otherwise until the poll is done.
    Poll(kvprt::Printer& printer, std::vector<AnnouncedAlert> announced, bool exposeJobs);
    Poll(const Poll&) = delete;
    Poll& operator=(const Poll&) = delete;

    // Sends the requests; `done` is called once every section has its result
    // (on the engine's thread, or on this one before start returns).
    void start(std::function<void()> done);
    // The outcome, once done (taken once).
    PollResult takeResult() { return std::move(m_result); }

private:
    // Adds an operation that reads `into` on the batch's printer object.
    template <class T, class Read>
    void add(kvprt::Reading<T>& into, Read read);
    // The outcome from the records.
    PollResult compact();

    kvprt::Printer& m_printer;
    std::shared_ptr<PollRecords> m_records;
    std::vector<AnnouncedAlert> m_announced;
    std::vector<AlertRead> m_alertReads;
    std::chrono::steady_clock::time_point m_started;
    PollResult m_result;               // once done
    KVPrtObjBatch m_batch;             // last: its destructor waits for the replies
};

}  // namespace kvprtd
