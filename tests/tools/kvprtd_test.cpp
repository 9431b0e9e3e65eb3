// kvprtd's parts on their own: the forecast, events, a poll's outcome (back-off, samples, report),
// label escaping, the web configuration and its passwords, and the database's refusals and migration. (Faulty fleet files and shards are in refusals.golden.md, times in kvprtd.golden.md.)
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "events.h"
#include "metrics.h"
#include "outcome.h"
#include "store.h"
#include "temp_dir.h"
#include "times.h"
#include "web_config.h"

using namespace kvprtd;

namespace {

TEST(KvprtdForecast, FitsTheLastTwoWeeks) {
    constexpr int64_t day = 86400000, start = 1767225600000;
    const std::pair<std::vector<double>, double> rows[] = {   // one level a day, the last today's; the days left, -1: none
        {{0.9, 0.8}, -1},                       // two days are not enough
        {{0.9, 0.8, 0.7}, 7},                   // falls 0.1 a day from 0.7
        {{0.5, 0.5, 0.5, 0.5}, -1},             // does not fall
        {{0.2, 0.1, 1.0, 0.9, 0.8}, 8},         // a new cartridge starts afresh
        {{0.0, 0.0, 1.0, 0.95, 0.9, 0.85, 0.8, 0.75, 0.7, 0.65, 0.6, 0.55, 0.5, 0.45, 0.4, 0.35, 0.3, 0.25, 0.2}, 4},
    };
    for (const auto& [daily, daysLeft] : rows) {
        LevelHistory h;
        for (size_t i = 0; i < daily.size(); ++i) h.add(start + static_cast<int64_t>(i) * day, daily[i]);
        EXPECT_NEAR(h.daysLeft(start + static_cast<int64_t>(daily.size() - 1) * day).value_or(-1), daysLeft, 1e-3)
            << daily.size();
    }
    // A flat level polled at other times of each day: the fit's rounding is no fall, poll after poll.
    LevelHistory flat;
    for (int64_t i = 0, at = start; i < 14; ++i, at += day + 7919 * (i % 5) * 1000) {
        flat.add(at, 0.3);
        EXPECT_FALSE(flat.daysLeft(at).has_value()) << i;
    }
}

TEST(KvprtdEvents, ChangesOfHealthAlertsAndSupplies) {
    const Snapshot before{.health = Health::Up, .familiesKnown = 0b11,
                          .alerts = {{0, 6113, 1}, {2, 6104, 0}},   // family 2 was not read by both: not compared
                          .supplies = {{.id = 1, .ratio = 0.4f}, {.id = 2, .ratio = 0.2f}, {.id = 3, .ratio = 0.6f},
                                       {.id = 4}}};
    const Snapshot after{.health = Health::Down, .familiesKnown = 0b11, .error = "gone", .alerts = {{1, 6114, 3}},
                         .supplies = {{.id = 1, .ratio = 0.2f}, {.id = 2, .ratio = 0}, {.id = 3, .ratio = 0.4f},
                                      {.id = 4, .ratio = 0}}};
    std::string got;
    for (const Event& e : changes(before, after)) got += e.kind + ": " + e.text + "\n";
    EXPECT_EQ(got, "down: gone\nalert-raised: Output bin 3 is full\nalert-cleared: Input source 1 is empty\n"
                   "supply: toner supply 1 at 20 % or less\nsupply: toner supply 2 is empty\n");
}

// A poll's outcome in turn: `poll` in `cycle` at `ms`, the snapshot and track carried on.
struct Polled {
    Snapshot snap;
    PrinterTrack track;
    PollOutcome poll(Health health, uint64_t cycle, int64_t ms, std::vector<Supply> supplies = {}) {
        PollResult r;
        r.health = health;
        r.pagesKnown = r.suppliesKnown = health == Health::Up;
        r.supplies = std::move(supplies);
        PollOutcome o = pollOutcome(snap, track, r, ms, cycle, 900);
        snap = o.snap;
        track = o.track;
        return o;
    }
};

TEST(KvprtdOutcome, FailedPrinterBacksOff) {
    const std::tuple<uint64_t, Health, uint64_t> rows[] = {   // polled in cycle, answered, next polled from cycle
        {1, Health::Down, 2},   {2, Health::Down, 4},   {4, Health::Down, 8}, {8, Health::Down, 16},
        {16, Health::Down, 26}, {26, Health::Down, 36}, {36, Health::Up, 0},  {37, Health::Down, 38},
    };
    Polled p;
    for (const auto& [cycle, health, next] : rows) EXPECT_EQ(p.poll(health, cycle, 0).track.retryCycle, next) << cycle;
}

// A run's first poll finds the state the history recorded last: it dates from that event, not from the start.
TEST(KvprtdOutcome, StateSinceFromTheHistory) {
    const std::tuple<RecordedHealth, Health, int64_t> rows[] = {   // recorded, first poll at 1000, since
        {{Health::Up, 500}, Health::Up, 500},
        {{Health::Down, 500}, Health::Down, 500},
        {{Health::Down, 500}, Health::Up, 1000},
        {{}, Health::Up, 1000},
    };
    for (const auto& [recorded, health, since] : rows) {
        Polled p;
        p.track.recorded = recorded;
        EXPECT_EQ(p.poll(health, 1, 1000).snap.since, since) << static_cast<int>(recorded.health);
    }
}

TEST(KvprtdOutcome, LevelsStoredOnChangeAndDaily) {
    constexpr int64_t minute = 60000, start = 1767225600000 + 10 * 60 * minute;   // 10:00 UTC
    const std::tuple<int64_t, uint8_t, bool, bool> rows[] = {   // minutes from start, level of 10; stored: supply, pages
        {0, 5, true, true},        {1, 5, false, false},   // page counts at most every 900 s
        {20, 4, true, true},       {60, 4, false, true},
        {14 * 60 + 1, 4, true, true},                      // the next day (UTC)
        {19 * 60, 4, false, true},
    };
    Polled p;
    for (const auto& [minutes, level, supply, pages] : rows) {
        PollOutcome o = p.poll(Health::Up, 1, start + minutes * minute, {{.id = 1, .level = level, .levelCount = 10}});
        EXPECT_EQ(o.sample.supplies.size(), supply ? 1u : 0u) << minutes;
        EXPECT_EQ(o.sample.pagesKnown, pages) << minutes;
    }
}

TEST(KvprtdOutcome, ReportHourlyAndWhenBackUp) {
    const std::tuple<int, Health, bool> rows[] = {   // minutes, poll, the report gathered after it
        {0, Health::Up, true},  {30, Health::Up, false}, {59, Health::Up, false}, {60, Health::Up, true},
        {65, Health::Down, false}, {70, Health::Up, true},  // back up
        {80, Health::Up, false}, {130, Health::Up, true},
    };
    const PrinterTrack::Clock::time_point t0{};
    Polled p;
    for (const auto& [minutes, health, gathered] : rows) {
        p.poll(health, 1, 0);
        const auto now = t0 + std::chrono::minutes(minutes);
        const bool wanted = health == Health::Up && p.track.reportWanted(now);
        EXPECT_EQ(wanted, gathered) << minutes;
        if (wanted) p.track.reported(now);
    }
}

TEST(KvprtdMetrics, LabelValuesEscaped) {
    EXPECT_EQ(escapeLabelValue("Floor 1"), "Floor 1");
    EXPECT_EQ(escapeLabelValue("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
}

// Web configurations kvprtd takes or refuses (with the place), and the passwords basic authentication lets in.
TEST(KvprtdWebConfig, FilesAndPasswords) {
    kvtest::TempDir dir;
    const std::string hash = bcryptHash("correct horse");
    ASSERT_TRUE(hash.starts_with("$2b$10$")) << hash;
    const struct {
        const char* text;
        const char* error;   // the message's end; empty when taken
    } files[] = {
        {"", ""},
        {"tls_server_config:\n  cert_file: a.crt\n  key_file: /etc/b.key\n", ""},
        {"basic_auth_users:\n  prometheus: HASH\n", ""},
        {"tls_server_config:\n  cert_file: a.crt\n", "tls_server_config: needs both cert_file and key_file"},
        {"tls_server_config:\n  cert_file: a.crt\n  key_file: b.key\n  min_version: TLS13\n",
         ":4:3: tls_server_config.min_version: not a setting kvprtd applies"},
        {"http_server_config:\n  http2: false\n", ":1:1: http_server_config: not a setting kvprtd applies"},
        {"basic_auth_users:\n  prometheus: plaintext\n", "prometheus: expected a user name without ':' and a bcrypt hash ($2b$...)"},
        {"basic_auth_users:\n  - prometheus\n", "basic_auth_users: expected a mapping of user names to bcrypt hashes"},
        {"tls_server_config: [\n", ":2:1: end of sequence flow not found"},
    };
    for (const auto& f : files) {
        std::string text = f.text;
        if (auto at = text.find("HASH"); at != std::string::npos) text.replace(at, 4, hash);
        std::ofstream(dir.file("web.yml"), std::ios::trunc) << text;
        std::string error;
        auto config = WebConfig::load(dir.file("web.yml"), &error);
        EXPECT_EQ(config.has_value(), *f.error == '\0') << f.text << error;
        EXPECT_TRUE(config || error.ends_with(f.error)) << error;
    }
    std::ofstream(dir.file("web.yml"), std::ios::trunc) << files[1].text;
    std::string error;
    auto tls = WebConfig::load(dir.file("web.yml"), &error)->tls;
    EXPECT_EQ(std::pair(tls->certFile, tls->keyFile), std::pair(dir.file("a.crt"), std::string("/etc/b.key")));

    BasicAuth auth({{"prometheus", hash}});
    const struct {
        const char* header;
        bool allowed;
    } headers[] = {
        {"Basic cHJvbWV0aGV1czpjb3JyZWN0IGhvcnNl", true},    // prometheus:correct horse
        {"basic cHJvbWV0aGV1czpjb3JyZWN0IGhvcnNl", true},    // the scheme in any case
        {"Basic cHJvbWV0aGV1czpjb3JyZWN0IGhvcnNl", true},    // remembered
        {"Basic cHJvbWV0aGV1czp3cm9uZw==", false},            // prometheus:wrong
        {"Basic YWxpY2U6Y29ycmVjdCBob3JzZQ==", false},        // alice:correct horse
        {"Basic cHJvbWV0aGV1c2NvcnJlY3Q=", false},            // no colon
        {"Basic !!!!", false},
        {"Basic cHJvbWV0aGV1czpjb3JyZWN0IGhvcnNl=", false},   // not base64 of four-character groups
        {"Bearer cHJvbWV0aGV1czpjb3JyZWN0IGhvcnNl", false},
        {"", false},
    };
    for (const auto& h : headers) EXPECT_EQ(auth.allows(h.header), h.allowed) << h.header;
}

void sql(const std::string& path, const char* statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statements, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(KvprtdStore, ForeignOrDamagedDatabasesAreLeftAlone) {
    kvtest::TempDir dir;
    std::string foreign = dir.file("foreign.db"), newer = dir.file("newer.db"), damaged = dir.file("damaged.db"), error;
    sql(foreign, "CREATE TABLE accounts(id INTEGER);");
    sql(newer, "PRAGMA application_id=1802924132; PRAGMA user_version=99; CREATE TABLE t(x);");
    ASSERT_TRUE(Store::open(damaged, &error)) << error;   // created, and closed at once
    sql(damaged, "CREATE TABLE filler(x); INSERT INTO filler VALUES(randomblob(20000));");
    std::string bytes = kvtest::readText(damaged);
    for (size_t i = 4096; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(i);
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;

    std::vector<std::pair<std::string, std::string>> rows = {   // a file that is no database: refusals.golden.md
        {foreign, "is not a kvprtd database"}, {newer, "was written by a newer kvprtd (schema 99"}, {damaged, "damaged"}};
    if (::geteuid() != 0) {   // root writes whatever the modes say
        const std::string readOnly = dir.file("read-only.db"), folder = dir.file("read-only"), inFolder = folder + "/k.db";
        ASSERT_TRUE(Store::open(readOnly, &error) && std::filesystem::create_directory(folder) && Store::open(inFolder, &error));
        ::chmod(readOnly.c_str(), 0444);
        ::chmod(folder.c_str(), 0555);
        rows.insert(rows.end(), {{readOnly, "read-only.db cannot be written"}, {inFolder, "its folder " + folder + " cannot be written"}});
    }
    for (const auto& [path, message] : rows) {
        const std::string before = kvtest::readText(path);
        EXPECT_FALSE(Store::open(path, &error)) << path;
        EXPECT_NE(error.find(message), std::string::npos) << error;
        EXPECT_EQ(kvtest::readText(path), before) << path;
    }
}

// A write the database refuses on its own (an event id taken) is given up and counted; the rest go in.
TEST(KvprtdStore, AWrongWriteIsGivenUpAndCounted) {
    kvtest::TempDir dir;
    std::string error;
    auto store = Store::open(dir.file("k.db"), &error);
    ASSERT_TRUE(store) << error;
    const int64_t printer = store->printerIds({"a"}).at("a");
    for (uint64_t id : {1, 1, 2}) store->addEvent(printer, Event{.id = id, .time = nowMs(), .kind = "up", .text = "up"});
    store->flush();
    EXPECT_EQ(store->lastEventId(), 2u);
    const Store::WriteStats stats = store->writeStats();
    EXPECT_EQ(stats.dropped, 1u);
    EXPECT_EQ(stats.failures, 0u);
    EXPECT_GT(stats.lastCommitMs, 0);
}

TEST(KvprtdStore, OlderSchemaMigratedForward) {
    kvtest::TempDir dir;
    std::string path = dir.file("k.db"), error;
    const Event e{.id = 7, .time = nowMs(), .kind = "up", .text = "up"};   // older rows would go with the retention
    {
        auto v1 = Store::open(path, &error, 1);
        ASSERT_TRUE(v1) << error;
        v1->addEvent(v1->printerIds({"a"}).at("a"), e);
    }
    ASSERT_TRUE(Store::open(path, &error, 2)) << error;   // version 2 kept a report as one object
    sql(path, "INSERT INTO reports VALUES(1, 2000, '{\"identity\":{\"model\":\"x\"},\"jobs\":[],\"n\":1}');"
              "UPDATE events SET data = '{\"damaged'");
    auto store = Store::open(path, &error);
    ASSERT_TRUE(store) << error;
    int64_t id = store->printerIds({"a"}).at("a");
    EXPECT_EQ(store->report(id)->sections,
              (std::map<std::string, std::string>{{"identity", "{\"model\":\"x\"}"}, {"jobs", "[]"}}));
    store->putReport(id, {3000, {{"jobs", "[1]"}}});
    store->flush();
    EXPECT_EQ(store->report(id)->time, 3000);
    EXPECT_EQ(store->report(id)->sections.size(), 1u);
    History h = store->history(id, 0, e.time, 10);
    ASSERT_EQ(h.events.size(), 1u);
    EXPECT_EQ(h.events[0].id, 7u);
    EXPECT_EQ(h.events[0].data, "{}");
    EXPECT_EQ(store->lastHealth().at(id).health, Health::Up);
}

}  // namespace
