// kvprtd as a program, against kvprtsimd printers and in-process sim:
// printers; scraped by a real Prometheus where Debian's prometheus is installed.
#include <gtest/gtest.h>

#include <signal.h>

#include <regex>
#include <set>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "kvprtd_rig.h"
#include "child.h"

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using namespace kvtest;
using States = std::map<std::string, std::string>;

// The JSON kvprtd at `port` answers to a GET of `path` with status 200; null otherwise.
json get(int port, const std::string& path) {
    auto r = httplib::Client("127.0.0.1", port).Get(path.c_str());
    return r && r->status == 200 ? json::parse(r->body, nullptr, false) : json(nullptr);
}

// name -> state of every printer kvprtd at `port` watches.
States states(int port) {
    States out;
    json j = get(port, "/api/v1/printers");
    if (j.is_object())
        for (const json& p : j["printers"]) out[p["name"]] = p["state"];
    return out;
}

void writeFleet(const TempDir& dir, const std::vector<std::pair<std::string, std::string>>& printers, int interval = 1) {
    std::string text = "poll_interval_s = " + std::to_string(interval) + "\n";
    for (const auto& [name, uri] : printers) text += "[[printer]]\nname = \"" + name + "\"\nuri = \"" + uri + "\"\n";
    writeText(dir.file("fleet.toml"), text);
}

// A printer whose daemon is killed goes down and comes back; kvprtd killed
// in the middle of a poll of the other (slow) printer keeps its history (and
// opens its database again, which it checks first). (Events pushed live are
// in dashboard_test.)
TEST(KvprtdService, DaemonKilledGoesDownAndComesBackAndSigkillKeepsTheHistory) {
    SimDaemon steady(KVPRTSIMD, {"--delay-ms", "50"}), flaky(KVPRTSIMD, {});   // polls of steady take a while
    TempDir dir;
    writeFleet(dir, {{"steady", steady.uri("0")}, {"flaky", flaky.uri("0")}});
    SimDaemon d = startKvprtd(dir);
    ASSERT_TRUE(eventually([&] { return states(d.port()) == States{{"flaky", "up"}, {"steady", "up"}}; }, 10s));

    flaky.kill();
    auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(eventually([&] { return states(d.port())["flaky"] == "down"; }, 5s));
    EXPECT_LE(std::chrono::steady_clock::now() - killed, 2s + 500ms);   // two poll intervals
    EXPECT_EQ(states(d.port())["steady"], "up");

    flaky.restart();
    ASSERT_TRUE(eventually([&] { return states(d.port())["flaky"] == "up"; }, 15s));
    std::vector<std::string> kinds;
    json history = get(d.port(), "/api/v1/printers/flaky/history");
    for (const json& e : history["events"])
        if (e["kind"] == "up" || e["kind"] == "down") kinds.push_back(e["kind"]);
    EXPECT_EQ(kinds, (std::vector<std::string>{"up", "down", "up"}));
    EXPECT_NE(get(d.port(), "/api/v1/printers/flaky")["poll"]["time"], nullptr);

    const std::string path = "/api/v1/printers/steady/history";
    json before, after;
    ASSERT_TRUE(eventually([&] { return (before = get(d.port(), path))["samples"].size() >= 3; }, 20s));
    d.kill();
    d.restart();
    ASSERT_TRUE(eventually([&] { return !(after = get(d.port(), path)).is_null(); }, 10s));
    for (const char* kept : {"samples", "events"}) {   // what was there before, and perhaps more
        json& now = after[kept];
        ASSERT_GE(now.size(), before[kept].size()) << kept;
        now.erase(now.begin() + static_cast<std::ptrdiff_t>(before[kept].size()), now.end());
        EXPECT_EQ(now, before[kept]);
    }
}

TEST(KvprtdService, AnnouncedAlertsAreReadAtOnce) {
    SimDaemon noisy(KVPRTSIMD, {"--raise-alerts-ms", "200"});
    TempDir dir;
    writeFleet(dir, {{"noisy", noisy.uri("0")}}, 3600);   // no second poll by the clock
    SimDaemon d = startKvprtd(dir);
    // Family -> what the line of one of its alerts says once the alert's data were read.
    const States expected = {
        {"deviceStatus", ""},
        {"operatorPanel", "NOT READY"},
        {"variableEvent", "variable 07 54 = \"ASSET-0042\""},   // the value read asynchronously too
    };
    std::set<std::string> families;
    std::string lines;
    EXPECT_TRUE(eventually([&] {
        lines.clear();
        json history = get(d.port(), "/api/v1/printers/noisy/history");
        for (const json& e : history["events"]) {
            if (e["kind"] != "alert-received" || e["data"]["read"] != true) continue;
            std::string family = e["data"]["familyName"], text = e["text"];
            lines += text + "\n";
            if (expected.count(family) && text.find(expected.at(family)) != std::string::npos) families.insert(family);
        }
        return families.size() == expected.size();
    }, 15s)) << lines;
}

TEST(KvprtdService, SighupTakesAGoodFleetFileAndRefusesABrokenOne) {
    TempDir dir;
    writeFleet(dir, {{"a0", "sim:"}, {"a1", "sim:"}});
    SimDaemon d = startKvprtd(dir);
    ASSERT_TRUE(eventually([&] { return states(d.port()) == States{{"a0", "up"}, {"a1", "up"}}; }, 10s));

    writeText(dir.file("fleet.toml"), "poll_interval_s = 1\n[[printer]]\nname = \"a0\"\nuri = \"sim:\"\n[[printer]]\nname = \"a1\"\n");
    ::kill(d.pid(), SIGHUP);
    json status;
    ASSERT_TRUE(eventually([&] { return (status = get(d.port(), "/api/v1/status"))["fleetFile"]["reloadError"].is_string(); }, 5s));
    EXPECT_NE(status["fleetFile"]["reloadError"].get<std::string>().find("fleet.toml:5:1: printer[1].uri: missing"),
              std::string::npos);
    EXPECT_EQ(states(d.port()), (States{{"a0", "up"}, {"a1", "up"}}));

    writeFleet(dir, {{"a1", "sim:"}, {"a2", "sim:"}});
    ::kill(d.pid(), SIGHUP);
    ASSERT_TRUE(eventually([&] { return states(d.port()) == States{{"a1", "up"}, {"a2", "up"}}; }, 10s));
    EXPECT_TRUE(get(d.port(), "/api/v1/status")["fleetFile"]["reloadError"].is_null());
}

// One kvprtd on a database holding days of samples: the days it gives and its
// report. (The event stream from a given event is in the documented examples,
// the API's refusals, the dashboard page's policy and shards in kvprtd.golden.md.)
TEST(KvprtdService, DaysAndReport) {
    TempDir dir;
    writeFleet(dir, {{"a0", "sim:"}});
    const int64_t today = kvprtd::nowMs() / kvprtd::kDayMs * kvprtd::kDayMs, day = kvprtd::kDayMs, hour = 3600000;
    addSamples(dir.file("k.db"), "a0", {{today - 3 * day + hour, 100, 5}, {today - 3 * day + 2 * hour, 150, 5},   // the day's last
                                        {today - 2 * day + hour, 400, 5}, {today - 2 * day + 9 * hour, 410, 4},
                                        {today - day + hour, 60, 4}});   // the counter was reset
    SimDaemon d = startKvprtd(dir);
    json days;
    ASSERT_TRUE(eventually([&] {   // today's sample is written
        days = get(d.port(), "/api/v1/printers/a0/days?days=3")["days"];
        return days.size() == 3 && !days[2]["pages"].is_null();
    }, 10s)) << days;
    EXPECT_EQ(days[0]["date"], kvprtd::rfc3339(today - 2 * day).substr(0, 10));
    EXPECT_EQ(days[0]["pages"]["type1"], 410);
    EXPECT_EQ(days[0]["printed"]["type1"], 260);   // from 150 at the end of the day before
    EXPECT_EQ(days[0]["supplies"][0]["level"], 4);
    EXPECT_EQ(days[1]["printed"]["type1"], 60);
    EXPECT_EQ(days[2]["printed"]["type1"], 15200 - 60);   // today, as kvprtd sampled the printer
    EXPECT_EQ(get(d.port(), "/api/v1/printers/a0/days")["days"].size(), 30u);
    EXPECT_EQ(get(d.port(), "/api/v1/printers/a0/days?days=5")["days"][0]["printed"], nullptr);   // no day before

    // Its report is kvprt's (report.golden.json) with the poll's state.
    json report = get(d.port(), "/api/v1/printers/a0"), expected = json::parse(readText(KVPRT_GOLDEN_DIR "/report.golden.json"));
    EXPECT_EQ(report["poll"]["state"], "up");
    report.erase("poll");
    EXPECT_EQ(report, expected);
}

// The repository's alert rules pass promtool; Prometheus scrapes every
// printer and fires PrinterDown for the one whose daemon dies.
TEST(KvprtdService, PrometheusScrapesEveryPrinterAndFiresPrinterDown) {
    if (std::system("command -v prometheus >/dev/null && command -v promtool >/dev/null") != 0)
        GTEST_SKIP() << "Debian's prometheus is not installed (apt-get install prometheus)";
    EXPECT_EQ(std::system("promtool check rules " KVPRTD_ALERT_RULES " >/dev/null"), 0);
    SimDaemon pair(KVPRTSIMD, {"--copies", "2"}), single(KVPRTSIMD, {});
    TempDir dir;
    writeFleet(dir, {{"pair-0", pair.uri("0")}, {"pair-1", pair.uri("1")}, {"single", single.uri("0")}});
    SimDaemon d = startKvprtd(dir);

    // The repository's rules, with every `for:` shortened to 1 s so that the test need not wait minutes.
    writeText(dir.file("rules.yml"), std::regex_replace(readText(KVPRTD_ALERT_RULES), std::regex("for: [0-9]+[smh]"), "for: 1s"));
    writeText(dir.file("prometheus.yml"), "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                          "rule_files: [\"" + dir.file("rules.yml") + "\"]\n"
                                          "scrape_configs:\n  - job_name: kvprtd\n    static_configs:\n"
                                          "      - targets: [\"127.0.0.1:" + std::to_string(d.port()) + "\"]\n");
    const int port = freePort();
    Child prometheus("prometheus", {"--config.file=" + dir.file("prometheus.yml"), "--storage.tsdb.path=" + dir.file("data"),
                                    "--web.listen-address=127.0.0.1:" + std::to_string(port)}, dir.file("prometheus.log"));
    States up;
    ASSERT_TRUE(eventually([&] {
        up.clear();
        json r = get(port, "/api/v1/query?query=kvprt_printer_up");
        for (const json& series : r["data"]["result"])
            up[series["metric"]["printer"]] = series["value"][1];
        return up.size() == 3;
    }, 30s)) << "Prometheus did not see the printers; its log is in " << dir.file("prometheus.log");
    EXPECT_EQ(up, (States{{"pair-0", "1"}, {"pair-1", "1"}, {"single", "1"}}));

    single.kill();
    EXPECT_TRUE(eventually([&] {
        json r = get(port, "/api/v1/alerts");
        for (const json& a : r["data"]["alerts"])
            if (a["labels"]["alertname"] == "PrinterDown" && a["labels"]["printer"] == "single" && a["state"] == "firing")
                return true;
        return false;
    }, 30s));
}

}  // namespace
