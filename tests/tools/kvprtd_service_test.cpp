// kvprtd as a program, against kvprtsimd printers and in-process sim:
// printers; scraped by a real Prometheus where Debian's prometheus is installed.
#include <gtest/gtest.h>

#include <signal.h>

#include <regex>
#include <set>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "kvprtd_rig.h"

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using namespace kvtest;
using States = std::map<std::string, std::string>;

// The JSON kvprtd at `port` answers to a GET of `path` with status 200, or its part at `pointer`; null otherwise.
json get(int port, const std::string& path, const json::json_pointer& pointer = json::json_pointer()) {
    auto r = httplib::Client("127.0.0.1", port).Get(path.c_str());
    json j = r && r->status == 200 ? json::parse(r->body, nullptr, false) : json(nullptr);
    return j.contains(pointer) ? j[pointer] : json(nullptr);
}

States states(int port) {   // name -> state of every printer kvprtd at `port` watches
    States out;
    for (const json& p : get(port, "/api/v1/printers", "/printers"_json_pointer)) out[p["name"]] = p["state"];
    return out;
}

void writeFleet(const TempDir& dir, const std::vector<std::pair<std::string, std::string>>& printers, int interval = 1) {
    std::string text = "poll_interval_s = " + std::to_string(interval) + "\n";
    for (const auto& [name, uri] : printers) text += "[[printer]]\nname = \"" + name + "\"\nuri = \"" + uri + "\"\n";
    writeText(dir.file("fleet.toml"), text);
}

// A printer whose daemon is killed goes down and comes back; kvprtd killed in the middle of a poll
// of the other (slow) printer keeps its history and opens its database again, which it checks first.
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
    std::string kinds;
    for (const json& e : get(d.port(), "/api/v1/printers/flaky/history", "/events"_json_pointer))
        if (e["kind"] == "up" || e["kind"] == "down") kinds += e["kind"].get<std::string>() + " ";
    EXPECT_EQ(kinds, "up down up ");
    EXPECT_NE(get(d.port(), "/api/v1/printers/flaky")["poll"]["time"], nullptr);

    const std::string path = "/api/v1/printers/steady/history";
    json before, after;
    ASSERT_TRUE(eventually([&] { return (before = get(d.port(), path))["samples"].size() >= 3; }, 20s));
    d.kill();
    d.restart();
    ASSERT_TRUE(eventually([&] { return !(after = get(d.port(), path)).is_null(); }, 10s));
    for (const char* kept : {"samples", "events"}) {   // what was there before, and perhaps more
        ASSERT_GE(after[kept].size(), before[kept].size()) << kept;
        after[kept].erase(after[kept].begin() + static_cast<std::ptrdiff_t>(before[kept].size()), after[kept].end());
        EXPECT_EQ(after[kept], before[kept]);
    }
}

TEST(KvprtdService, AnnouncedAlertsAreReadAtOnce) {
    SimDaemon noisy(KVPRTSIMD, {"--raise-alerts-ms", "200"});
    TempDir dir;
    writeFleet(dir, {{"noisy", noisy.uri("0")}}, 3600);   // no second poll by the clock
    SimDaemon d = startKvprtd(dir);
    // Family -> what the line of one of its alerts says once its data were read (a variable's value too).
    const States expected = {{"deviceStatus", ""}, {"operatorPanel", "NOT READY"},
                             {"variableEvent", "variable 07 54 = \"ASSET-0042\""}};
    std::set<std::string> families;
    EXPECT_TRUE(eventually([&] {
        for (const json& e : get(d.port(), "/api/v1/printers/noisy/history", "/events"_json_pointer))
            if (e["kind"] == "alert-received" && e["data"]["read"] == true && expected.count(e["data"]["familyName"]) &&
                e["text"].get<std::string>().find(expected.at(e["data"]["familyName"])) != std::string::npos)
                families.insert(e["data"]["familyName"]);
        return families.size() == expected.size();
    }, 15s)) << get(d.port(), "/api/v1/printers/noisy/history")["events"];
}

TEST(KvprtdService, SighupTakesAGoodFleetFileAndRefusesABrokenOne) {
    TempDir dir;
    writeFleet(dir, {{"a0", "sim:"}, {"a1", "sim:"}});
    SimDaemon d = startKvprtd(dir);
    ASSERT_TRUE(eventually([&] { return states(d.port()) == States{{"a0", "up"}, {"a1", "up"}}; }, 10s));

    writeText(dir.file("fleet.toml"), "poll_interval_s = 1\n[[printer]]\nname = \"a0\"\nuri = \"sim:\"\n[[printer]]\nname = \"a1\"\n");
    ::kill(d.pid(), SIGHUP);
    json error;
    ASSERT_TRUE(eventually(
        [&] { return (error = get(d.port(), "/api/v1/status")["fleetFile"]["reloadError"]).is_string(); }, 5s));
    EXPECT_NE(error.get<std::string>().find("fleet.toml:5:1: printer[1].uri: missing"), std::string::npos);
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
    const int64_t day = kvprtd::kDayMs, today = kvprtd::nowMs() / day * day, hour = 3600000;
    addSamples(dir.file("k.db"), "a0", {{today - 3 * day + hour, 100, 5}, {today - 3 * day + 2 * hour, 150, 5},   // the day's last
                                        {today - 2 * day + hour, 400, 5}, {today - 2 * day + 9 * hour, 410, 4},
                                        {today - day + hour, 60, 4}});   // the counter was reset
    SimDaemon d = startKvprtd(dir);
    json days;
    ASSERT_TRUE(eventually([&] {   // today's sample is written
        days = get(d.port(), "/api/v1/printers/a0/days?days=3")["days"];
        return days.size() == 3 && !days[2]["pages"].is_null();
    }, 10s)) << days;
    // The first day's date, pages, level and pages printed since 150 at the end of the day before; the
    // pages printed of the day the counter was reset and of today, as kvprtd sampled the printer.
    EXPECT_EQ(json({days[0]["date"], days[0]["pages"]["type1"], days[0]["supplies"][0]["level"], days[0]["printed"]["type1"],
                    days[1]["printed"]["type1"], days[2]["printed"]["type1"]}),
              json({kvprtd::rfc3339(today - 2 * day).substr(0, 10), 410, 4, 260, 60, 15200 - 60}));
    EXPECT_EQ(get(d.port(), "/api/v1/printers/a0/days")["days"].size(), 30u);
    EXPECT_EQ(get(d.port(), "/api/v1/printers/a0/days?days=5")["days"][0]["printed"], nullptr);   // no day before

    // Its report is kvprt's (report.golden.json) with the poll's state.
    json report = get(d.port(), "/api/v1/printers/a0");
    EXPECT_EQ(report["poll"]["state"], "up");
    report.erase("poll");
    EXPECT_EQ(report, json::parse(readText(KVPRT_GOLDEN_DIR "/report.golden.json")));
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
    writeText(dir.file("prometheus.yml"), "global: {scrape_interval: 1s, evaluation_interval: 1s}\nrule_files: [rules.yml]\n"
              "scrape_configs: [{job_name: kvprtd, static_configs: [{targets: ['127.0.0.1:" +
                  std::to_string(d.port()) + "']}]}]\n");
    const int port = freePort();
    SimDaemon server = startOnPort("prometheus",
                                   {"--config.file=" + dir.file("prometheus.yml"), "--storage.tsdb.path=" + dir.file("data"),
                                    "--web.listen-address=127.0.0.1:" + std::to_string(port)},
                                   port, dir.file("prometheus.log"));
    States up;
    ASSERT_TRUE(eventually([&] {
        for (const json& series : get(port, "/api/v1/query?query=kvprt_printer_up", "/data/result"_json_pointer))
            up[series["metric"]["printer"]] = series["value"][1];
        return up.size() == 3;
    }, 30s)) << "Prometheus did not see the printers; its log is in " << dir.file("prometheus.log");
    EXPECT_EQ(up, (States{{"pair-0", "1"}, {"pair-1", "1"}, {"single", "1"}}));

    single.kill();
    EXPECT_TRUE(eventually([&] {
        for (const json& a : get(port, "/api/v1/alerts", "/data/alerts"_json_pointer))
            if (a["labels"]["alertname"] == "PrinterDown" && a["labels"]["printer"] == "single" && a["state"] == "firing")
                return true;
        return false;
    }, 30s));
}

}  // namespace
