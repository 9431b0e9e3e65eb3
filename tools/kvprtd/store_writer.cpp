// The store's own thread: the queued writes, committed a batch at a time,
// and what happens when the database refuses them (store.h).
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
