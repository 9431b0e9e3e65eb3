// kvprtd's parts on their own: the forecast, events, label
// escaping and the database's refusals and migration. (The faults of a fleet
// file and bad shards are in the transcript refusals.golden.md, the times
// it reads and writes in kvprtd.golden.md.)
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "events.h"
#include "forecast.h"
#include "metrics.h"
#include "store.h"
#include "temp_dir.h"
#include "times.h"

using namespace kvprtd;

namespace {

TEST(KvprtdForecast, FitsTheLastTwoWeeks) {
    constexpr int64_t day = 86400000, start = 1767225600000;
    struct Row {
        std::vector<double> daily;   // one level a day, the last is today's
        double daysLeft;             // NaN: none
    };
    const Row rows[] = {
        {{0.9, 0.8}, NAN},                      // two days are not enough
        {{0.9, 0.8, 0.7}, 7},                   // falls 0.1 a day from 0.7
        {{0.5, 0.5, 0.5, 0.5}, NAN},            // does not fall
        {{0.2, 0.1, 1.0, 0.9, 0.8}, 8},         // a new cartridge starts afresh
        {{0.0, 0.0, 1.0, 0.95, 0.9, 0.85, 0.8, 0.75, 0.7, 0.65, 0.6, 0.55, 0.5, 0.45, 0.4, 0.35, 0.3, 0.25, 0.2}, 4},
    };
    for (const Row& row : rows) {
        LevelHistory h;
        for (size_t i = 0; i < row.daily.size(); ++i) h.add(start + static_cast<int64_t>(i) * day, row.daily[i]);
        auto left = h.daysLeft(start + static_cast<int64_t>(row.daily.size() - 1) * day);
        if (std::isnan(row.daysLeft))
            EXPECT_FALSE(left) << row.daily.size();
        else
            EXPECT_NEAR(left.value_or(-1), row.daysLeft, 1e-3) << row.daily.size();
    }
}

TEST(KvprtdEvents, ChangesOfHealthAlertsAndSupplies) {
    Snapshot before, after;
    before.health = Health::Up;
    after.health = Health::Down;
    after.error = "gone";
    before.familiesKnown = after.familiesKnown = 0b11;
    before.alerts = {{0, 6113, 1}, {2, 6104, 0}};   // family 2 was not read by both: not compared
    after.alerts = {{1, 6114, 3}};
    auto supply = [](uint8_t id, float ratio) { Supply s; s.id = id; s.ratio = ratio; return s; };
    before.supplies = {supply(1, 0.4f), supply(2, 0.2f), supply(3, 0.6f), supply(4, NAN)};
    after.supplies = {supply(1, 0.2f), supply(2, 0.0f), supply(3, 0.4f), supply(4, 0.0f)};

    std::vector<std::string> got;
    for (const Event& e : changes(before, after)) got.push_back(e.kind + ": " + e.text);
    EXPECT_EQ(got, (std::vector<std::string>{"down: gone", "alert-raised: Output bin 3 is full",
                                             "alert-cleared: Input source 1 is empty",
                                             "supply: toner supply 1 at 20 % or less",
                                             "supply: toner supply 2 is empty"}));
}

TEST(KvprtdMetrics, LabelValuesEscaped) {
    EXPECT_EQ(escapeLabelValue("Floor 1"), "Floor 1");
    EXPECT_EQ(escapeLabelValue("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
}

void sql(const std::string& path, const char* statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statements, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(KvprtdStore, ForeignOrDamagedDatabasesAreLeftAlone) {
    kvtest::TempDir dir;
    std::string foreign = dir.file("foreign.db"), newer = dir.file("newer.db"), damaged = dir.file("damaged.db");
    sql(foreign, "CREATE TABLE accounts(id INTEGER);");
    sql(newer, "PRAGMA application_id=1802924132; PRAGMA user_version=99; CREATE TABLE t(x);");
    {
        std::string error;
        ASSERT_TRUE(Store::open(damaged, &error)) << error;
    }
    sql(damaged, "CREATE TABLE filler(x); INSERT INTO filler VALUES(randomblob(20000));");
    std::string bytes = kvtest::readText(damaged);
    for (size_t i = 4096; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(i);
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;

    struct Row {
        std::string path, error;
    } rows[] = {{foreign, "is not a kvprtd database"},   // a file that is no database: refusals.golden.md
                {newer, "was written by a newer kvprtd (schema 99"},
                {damaged, "damaged"}};
    for (const Row& row : rows) {
        std::string before = kvtest::readText(row.path), error;
        EXPECT_FALSE(Store::open(row.path, &error)) << row.path;
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
        EXPECT_EQ(kvtest::readText(row.path), before) << row.path;
    }
}

TEST(KvprtdStore, OlderSchemaMigratedForward) {
    kvtest::TempDir dir;
    std::string path = dir.file("k.db"), error;
    Event e;
    e.id = 7;
    e.time = nowMs();   // older rows would go with the retention
    e.kind = "up";
    e.text = "up";
    {
        auto v1 = Store::open(path, &error, 1);
        ASSERT_TRUE(v1) << error;
        v1->addEvent(v1->printerIds({"a"}).at("a"), e);
    }
    auto store = Store::open(path, &error);
    ASSERT_TRUE(store) << error;
    int64_t id = store->printerIds({"a"}).at("a");
    store->putReport(id, {2000, "{}"});   // the table version 2 added
    store->flush();
    EXPECT_EQ(store->report(id)->time, 2000);
    History h = store->history(id, 0, e.time, 10);
    ASSERT_EQ(h.events.size(), 1u);
    EXPECT_EQ(h.events[0].id, 7u);
    EXPECT_EQ(store->lastHealth().at(id), Health::Up);
}

}  // namespace
