// The history in SQLite: page-count and supply-level samples, the event log,
// and each printer's last report (the sections gathered on a slow schedule).
//
// The database runs in WAL mode. Writes are queued and committed by the
// store's own thread, each batch of queued writes in one transaction as soon
// as it is queued: a kvprtd killed with SIGKILL loses at most the writes of
// its last moments (its last poll). Reads take a connection of their own.
//
// When the database refuses a transaction (a full disk, a file made
// read-only, an I/O error), its events are kept, at most kMaxKeptEvents, and
// written with the next transaction, tried again every kRetryEvery; its
// samples and reports are dropped (the next poll brings newer ones). Every
// write given up is counted (writeStats), and the failures are logged once
// a minute at most, with the count of those left out.
//
// Opening refuses, with a message and without writing anything, a file that
// is not an SQLite database, an SQLite database of another program (its
// application id is not kvprtd's, or it holds tables without one), a
// database written by a newer kvprtd (schema version above ours) and a
// damaged one (PRAGMA quick_check), and one that cannot be written (the file
// or its folder). An older schema is migrated forward, one step after the
// other, in one transaction.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "events.h"
#include "sqlite.h"
#include "state.h"

namespace kvprtd {

// PRAGMA application_id of kvprtd's databases: "kvpd".
constexpr int32_t kApplicationId = 0x6B767064;
// The schema this kvprtd writes (PRAGMA user_version).
constexpr int kSchemaVersion = 3;

struct StoredSupply {
    int64_t time = 0;
    Supply supply;
};

struct Sample {
    int64_t time = 0;
    bool pagesKnown = false;
    uint32_t pages[kPageCountTypes] = {};
    std::vector<Supply> supplies;
};

struct History {
    std::vector<Sample> samples;   // oldest first
    std::vector<Event> events;     // oldest first
    bool truncated = false;        // more than the limit: the newest were kept
};

// A page of a printer's events, newest first.
struct EventPage {
    std::vector<Event> events;
    bool more = false;   // older events remain
};

// A printer's day (UTC): its last page counts and supply levels of the day.
struct Day {
    int64_t day = 0;   // days since 1970-01-01
    bool pagesKnown = false;
    uint32_t pages[kPageCountTypes] = {};
    std::vector<Supply> supplies;
};

// A printer's last "up" or "down" event: which, and when (ms).
struct RecordedHealth {
    Health health = Health::Unknown;
    int64_t time = 0;
};

struct Report {
    int64_t time = 0;
    std::map<std::string, std::string> sections;   // each section's JSON text by its key
};

class Store {
public:
    static constexpr size_t kMaxKeptEvents = 10000;
    static constexpr std::chrono::seconds kRetryEvery{5};

    // How writing goes, for the metrics and the status.
    struct WriteStats {
        uint64_t failures = 0;      // transactions the database refused
        uint64_t dropped = 0;       // writes given up
        size_t eventsWaiting = 0;   // events kept until the database takes them
        bool failing = false;       // the last transaction was refused
        int64_t lastCommitMs = 0;   // the last transaction it took; 0 for none yet
    };

    // Opens (or creates) the database at `path`, at schema version
    // `schema` (tests open older versions). Nothing, with `error`, when refused.
    static std::unique_ptr<Store> open(const std::string& path, std::string* error, int schema = kSchemaVersion);
    // Commits what is queued, then closes.
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Rows older than this many days are deleted (hourly, and at start).
    void setRetentionDays(int days);

    // Queued writes.
    void addEvent(int64_t printer, const Event& event);
    void addSample(int64_t printer, const Sample& sample);
    void putReport(int64_t printer, const Report& report);
    // Waits until every write queued so far is committed, kept for later
    // (an event while writes fail) or given up.
    void flush();
    WriteStats writeStats() const;

    // The ids of printers by name, adding the names not known yet.
    std::map<std::string, int64_t> printerIds(const std::vector<std::string>& names);
    // The largest event id so far (0 for none).
    uint64_t lastEventId();
    // Per printer, its last "up" or "down" event.
    std::map<int64_t, RecordedHealth> lastHealth();
    // Per printer, its supplies' levels since `sinceMs`, oldest first.
    std::map<int64_t, std::vector<StoredSupply>> supplyLevels(int64_t sinceMs);
    std::optional<Report> report(int64_t printer);
    // A printer's samples and events from `since` to `until` (ms), at most
    // `limit` of each.
    History history(int64_t printer, int64_t since, int64_t until, size_t limit);
    // A printer's events older than the event `before` (0: from the newest),
    // newest first, at most `limit`.
    EventPage events(int64_t printer, uint64_t before, size_t limit);
    // A printer's days from the day of `since` to that of `until` (ms) that
    // have samples, oldest first.
    std::vector<Day> days(int64_t printer, int64_t since, int64_t until);

private:
    using Write = std::function<void(Connection&)>;
    struct Queued {
        Write write;          // null once given up
        bool kept = false;    // an event: kept while the database refuses it
    };

    explicit Store(std::string path);
    void queue(Write write, bool kept = false);
    void writeLoop();
    // `batch` in one transaction; false, with why, when the database refused it.
    bool commit(std::deque<Queued>& batch, std::string* why);
    void deleteExpired(Connection& db);

    std::string m_path;
    std::unique_ptr<Connection> m_writer;   // the store's thread only
    std::mutex m_readLock;
    std::unique_ptr<Connection> m_reader;

    mutable std::mutex m_lock;
    std::condition_variable m_wake, m_committed;
    std::deque<Queued> m_queue;
    uint64_t m_queuedCount = 0, m_committedCount = 0;
    WriteStats m_stats;
    std::deque<Queued> m_retry;   // the store's thread only: events of refused transactions, oldest first
    bool m_stopping = false;
    int m_retentionDays = 90;
    std::thread m_thread;
};

}  // namespace kvprtd
