// The store's writes (store.h): what each queued write does, the store's own
// thread that commits them a batch at a time, and what happens when the
// database refuses them.
#include <algorithm>
#include <iterator>

#include "log.h"
#include "store.h"
#include "times.h"

namespace kvprtd {
namespace {

constexpr auto kRetentionEvery = std::chrono::hours(1);

}  // namespace

void Store::setRetentionDays(int days) {
    std::lock_guard guard(m_lock);
    m_retentionDays = days;
}

void Store::addEvent(int64_t printer, const Event& e) {
    queue(
        [printer, e](Connection& db) {
            Statement s(db.get(), "INSERT INTO events(id, printer, time, kind, text, data) VALUES(?, ?, ?, ?, ?, ?)");
            s.bind(1, static_cast<int64_t>(e.id)).bind(2, printer).bind(3, e.time).bind(4, e.kind).bind(5, e.text);
            s.bind(6, e.data).run();
        },
        true);
}

void Store::addSample(int64_t printer, const Sample& sample) {
    queue([printer, sample](Connection& db) {
        if (sample.pagesKnown) {
            Statement s(db.get(),
                        "INSERT INTO samples(printer, time, pages1, pages2, pages3, pages4) VALUES(?, ?, ?, ?, ?, ?)");
            s.bind(1, printer).bind(2, sample.time);
            for (size_t i = 0; i < kPageCountTypes; ++i) s.bind(static_cast<int>(i) + 3, int64_t{sample.pages[i]});
            s.run();
        }
        for (const Supply& supply : sample.supplies) {
            Statement s(db.get(),
                        "INSERT INTO supply_samples(printer, time, supply, level, level_count) VALUES(?, ?, ?, ?, ?)");
            s.bind(1, printer).bind(2, sample.time).bind(3, int64_t{supply.id}).bind(4, int64_t{supply.level});
            s.bind(5, int64_t{supply.levelCount}).run();
        }
    });
}

void Store::putReport(int64_t printer, const Report& report) {
    queue([printer, report](Connection& db) {
        Statement s(db.get(), "INSERT OR REPLACE INTO reports(printer, time) VALUES(?, ?)");
        s.bind(1, printer).bind(2, report.time).run();
        Statement clear(db.get(), "DELETE FROM report_sections WHERE printer = ?");
        clear.bind(1, printer).run();
        Statement add(db.get(), "INSERT INTO report_sections(printer, key, data) VALUES(?, ?, ?)");
        for (const auto& [key, data] : report.sections) {
            add.bind(1, printer).bind(2, key).bind(3, data).run();
            add.reset();
        }
    });
}

std::map<std::string, int64_t> Store::printerIds(const std::vector<std::string>& names) {
    auto ids = std::make_shared<std::map<std::string, int64_t>>();
    queue([names, ids](Connection& db) {
        Statement add(db.get(), "INSERT OR IGNORE INTO printers(name) VALUES(?)");
        Statement find(db.get(), "SELECT id FROM printers WHERE name = ?");
        for (const std::string& name : names) {
            add.bind(1, name).run();
            add.reset();
            find.bind(1, name);
            if (find.step()) (*ids)[name] = find.integer(0);
            find.reset();
        }
    });
    flush();
    return *ids;
}

void Store::queue(Write write, bool kept) {
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back({std::move(write), kept});
        ++m_queuedCount;
    }
    m_wake.notify_one();
}

Store::WriteStats Store::writeStats() const {
    std::lock_guard guard(m_lock);
    return m_stats;
}

void Store::flush() {
    std::unique_lock guard(m_lock);
    uint64_t target = m_queuedCount;
    m_committed.wait(guard, [&] { return m_committedCount >= target || !m_thread.joinable(); });
}

void Store::writeLoop() {
    pthread_setname_np(pthread_self(), "kvprtd-store");
    auto nextRetention = std::chrono::steady_clock::now();
    auto retryAt = nextRetention;
    RepeatedLog failures(std::chrono::minutes(1));
    for (;;) {
        std::deque<Queued> batch;
        bool stopping;
        {
            std::unique_lock guard(m_lock);
            // While the database refuses writes, the next try waits its time, whatever comes meanwhile.
            const bool failing = !m_retry.empty();
            m_wake.wait_until(guard, failing ? std::min(nextRetention, retryAt) : nextRetention,
                              [&] { return m_stopping || (!failing && !m_queue.empty()); });
            stopping = m_stopping;
            if (m_queue.empty() && m_retry.empty() && stopping) break;
            batch.swap(m_queue);
        }
        const size_t handled = batch.size();   // queued writes, now committed, kept or given up
        batch.insert(batch.begin(), std::make_move_iterator(m_retry.begin()), std::make_move_iterator(m_retry.end()));
        m_retry.clear();
        std::string why;
        const bool committed = batch.empty() || commit(batch, &why);
        uint64_t dropped = 0;
        if (!committed) {
            for (Queued& q : batch) {
                if (q.write && q.kept && !stopping && m_retry.size() < kMaxKeptEvents)
                    m_retry.push_back(std::move(q));
                else if (q.write)
                    ++dropped;
            }
            retryAt = std::chrono::steady_clock::now() + kRetryEvery;
            failures.line(m_path + ": cannot write (" + why + "); " + std::to_string(m_retry.size()) +
                          " events kept to be written later, " + std::to_string(dropped) + " writes given up");
        }
        if (std::chrono::steady_clock::now() >= nextRetention) {
            deleteExpired(*m_writer);
            nextRetention = std::chrono::steady_clock::now() + kRetentionEvery;
        }
        {
            std::lock_guard guard(m_lock);
            m_committedCount += handled;
            m_stats.dropped += dropped;
            m_stats.eventsWaiting = m_retry.size();
            if (committed && !batch.empty()) m_stats.lastCommitMs = nowMs();
            if (!committed) ++m_stats.failures;
            if (!batch.empty()) m_stats.failing = !committed;
        }
        m_committed.notify_all();
    }
}

bool Store::commit(std::deque<Queued>& batch, std::string* why) {
    try {
        m_writer->exec("BEGIN");
        for (Queued& q : batch) {
            try {
                q.write(*m_writer);
            } catch (const DbError& e) {
                if (isStorageFailure(e.code())) throw;   // the transaction fails whole
                logLine(m_path + ": a write failed and is given up: " + e.what());
                q.write = nullptr;
                std::lock_guard guard(m_lock);
                ++m_stats.dropped;
            }
        }
        m_writer->exec("COMMIT");
        return true;
    } catch (const DbError& e) {
        *why = e.what();
        try {
            m_writer->exec("ROLLBACK");
        } catch (const DbError&) {
        }
        return false;
    }
}

void Store::deleteExpired(Connection& db) {
    int days;
    {
        std::lock_guard guard(m_lock);
        days = m_retentionDays;
    }
    int64_t cutoff = nowMs() - days * kDayMs;
    try {
        for (const char* table : {"samples", "supply_samples", "events"}) {
            Statement s(db.get(), std::string("DELETE FROM ") + table + " WHERE time < ?");
            s.bind(1, cutoff).run();
        }
    } catch (const DbError& e) {
        logLine(m_path + ": cannot delete old history: " + e.what());
    }
}

}  // namespace kvprtd
