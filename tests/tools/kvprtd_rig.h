// kvprtd for the tests that run it: the daemon on a test folder's fleet file
// and database, and history written to that database beforehand.
#pragma once

#include <gtest/gtest.h>

#include <array>

#include "sim_daemon.h"
#include "store.h"
#include "temp_dir.h"
#include "times.h"

namespace kvtest {

// kvprtd on fleet.toml of `dir`, with the database k.db of `dir` unless `args` give --db.
inline SimDaemon startKvprtd(const TempDir& dir, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--fleet", dir.file("fleet.toml"), "--sample-interval", "0"});
    if (std::find(args.begin(), args.end(), "--db") == args.end()) args.insert(args.end(), {"--db", dir.file("k.db")});
    return SimDaemon(KVPRTD, args);
}

// Samples of `printer` in the database at `db`: time, type-1 page count, level of toner 1 in 6 steps.
inline void addSamples(const std::string& db, const std::string& printer,
                       const std::vector<std::array<int64_t, 3>>& samples) {
    std::string error;
    auto store = kvprtd::Store::open(db, &error);
    ASSERT_TRUE(store) << error;
    int64_t id = store->printerIds({printer})[printer];
    for (auto [time, pages, level] : samples) {
        kvprtd::Sample s;
        s.time = time;
        s.pagesKnown = true;
        s.pages[0] = static_cast<uint32_t>(pages);
        s.supplies.push_back({1, static_cast<uint8_t>(level), 6});
        store->addSample(id, s);
    }
    store->flush();
}

}  // namespace kvtest
