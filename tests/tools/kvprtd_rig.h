// kvprtd for the tests that run it, on a test folder's fleet file and database with history
// written beforehand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <thread>

#include "sim_daemon.h"
#include "store.h"
#include "temp_dir.h"
#include "times.h"

namespace kvtest {

// kvprtd on fleet.toml of `dir`, with the database k.db of `dir` unless `args` give --db; its
// messages to `stderrPath` (empty: this process's standard error).
inline SimDaemon startKvprtd(const TempDir& dir, std::vector<std::string> args = {}, const std::string& stderrPath = "") {
    args.insert(args.begin(), {"--fleet", dir.file("fleet.toml"), "--sample-interval", "0"});
    if (std::find(args.begin(), args.end(), "--db") == args.end()) args.insert(args.end(), {"--db", dir.file("k.db")});
    return SimDaemon(KVPRTD, args, {{}, "127.0.0.1", stderrPath, ""});
}

// Whether `done` became true within `limit`, asked every 100 ms.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    using namespace std::chrono_literals;
    for (auto deadline = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(100ms))
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}

inline void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::trunc) << text; }

// Samples of `printer` in the database at `db`: time, type-1 page count, level of toner 1 in 6 steps.
inline void addSamples(const std::string& db, const std::string& printer,
                       const std::vector<std::array<int64_t, 3>>& samples) {
    std::string error;
    auto store = kvprtd::Store::open(db, &error);
    ASSERT_TRUE(store) << error;
    int64_t id = store->printerIds({printer})[printer];
    for (auto [time, pages, level] : samples)
        store->addSample(id, {time, true, {static_cast<uint32_t>(pages)}, {{1, static_cast<uint8_t>(level), 6}}});
    store->flush();
}

}  // namespace kvtest
