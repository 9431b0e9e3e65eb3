// kvprtd as a program, against kvprtsimd printers and in-process sim:
// printers; scraped by a real Prometheus where Debian's prometheus is installed.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "run_kvprt.h"
#include "sim_daemon.h"
#include "store.h"
#include "temp_dir.h"
#include "times.h"

extern char** environ;

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using kvtest::freePort;
using kvtest::SimDaemon;
using kvtest::TempDir;

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

std::pair<int, json> request(int port, const std::string& path) {
    httplib::Client client("127.0.0.1", port);
    auto r = client.Get(path.c_str());
    if (!r) return {0, nullptr};
    return {r->status, json::parse(r->body, nullptr, false)};
}

json get(int port, const std::string& path) {
    auto [status, body] = request(port, path);
    return status == 200 ? body : json(nullptr);
}

// name -> state of every printer kvprtd at `port` watches.
std::map<std::string, std::string> states(int port) {
    std::map<std::string, std::string> out;
    json j = get(port, "/api/v1/printers");
    if (j.is_object())
        for (const json& p : j["printers"]) out[p["name"]] = p["state"];
    return out;
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::trunc) << text; }

std::string fleetText(const std::vector<std::pair<std::string, std::string>>& printers, int interval = 1) {
    std::string text = "poll_interval_s = " + std::to_string(interval) + "\n";
    for (const auto& [name, uri] : printers) text += "[[printer]]\nname = \"" + name + "\"\nuri = \"" + uri + "\"\n";
    return text;
}

// kvprtd on a fleet file and a database of `dir`.
SimDaemon kvprtd(const TempDir& dir, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--fleet", dir.file("fleet.toml"), "--sample-interval", "0"});
    if (std::find(args.begin(), args.end(), "--db") == args.end()) args.insert(args.end(), {"--db", dir.file("k.db")});
    return SimDaemon(KVPRTD, args);
}

// A printer whose daemon is killed goes down and comes back; kvprtd killed
// in the middle of a poll of the other (slow) printer keeps its history.
TEST(KvprtdService, DaemonKilledGoesDownAndComesBackAndSigkillKeepsTheHistory) {
    SimDaemon steady(KVPRTSIMD, {"--delay-ms", "50"}), flaky(KVPRTSIMD, {});   // polls of steady take a while
    TempDir dir;
    writeFile(dir.file("fleet.toml"), fleetText({{"steady", steady.uri("0")}, {"flaky", flaky.uri("0")}}));
    SimDaemon d = kvprtd(dir);
    using States = std::map<std::string, std::string>;
    ASSERT_TRUE(eventually([&] { return states(d.port()) == States{{"flaky", "up"}, {"steady", "up"}}; }, 10s));

    std::string stream;   // the event stream, read until the down event came
    std::thread reader([&] {
        httplib::Client client("127.0.0.1", d.port());
        client.set_read_timeout(10);
        client.Get("/api/v1/events", [&](const char* data, size_t length) {
            stream.append(data, length);
            return stream.find("event: down") == std::string::npos;
        });
    });
    std::this_thread::sleep_for(300ms);   // the stream is open
    flaky.kill();
    auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(eventually([&] { return states(d.port())["flaky"] == "down"; }, 5s));
    EXPECT_LE(std::chrono::steady_clock::now() - killed, 2s + 500ms);   // two poll intervals
    reader.join();
    EXPECT_NE(stream.find("\"printer\":\"flaky\",\"kind\":\"down\""), std::string::npos) << stream;
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
    json before;
    ASSERT_TRUE(eventually([&] { return (before = get(d.port(), path))["samples"].size() >= 3; }, 20s));
    d.kill();
    d.restart();
    json after;
    ASSERT_TRUE(eventually([&] { return !(after = get(d.port(), path)).is_null(); }, 10s));
    ASSERT_GE(after["samples"].size(), before["samples"].size());
    for (size_t i = 0; i < before["samples"].size(); ++i) EXPECT_EQ(after["samples"][i], before["samples"][i]);
    ASSERT_GE(after["events"].size(), before["events"].size());
    for (size_t i = 0; i < before["events"].size(); ++i) EXPECT_EQ(after["events"][i], before["events"][i]);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(dir.file("k.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

TEST(KvprtdService, AnnouncedAlertsAreReadAtOnce) {
    SimDaemon noisy(KVPRTSIMD, {"--raise-alerts-ms", "200"});
    TempDir dir;
    writeFile(dir.file("fleet.toml"), fleetText({{"noisy", noisy.uri("0")}}, 3600));   // no second poll by the clock
    SimDaemon d = kvprtd(dir);
    // Family -> what the line of one of its alerts says once the alert's data were read.
    const std::map<std::string, std::string> expected = {
        {"deviceStatus", ""},
        {"operatorPanel", "NOT READY"},
        {"variableEvent", "variable 07 54 = \"ASSET-0042\""},   // the value read asynchronously too
    };
    std::set<std::string> families;
    std::string lines;
    EXPECT_TRUE(eventually([&] {
        json history = get(d.port(), "/api/v1/printers/noisy/history");
        lines.clear();
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
    writeFile(dir.file("fleet.toml"), fleetText({{"a0", "sim:"}, {"a1", "sim:"}}));
    SimDaemon d = kvprtd(dir);
    using States = std::map<std::string, std::string>;
    ASSERT_TRUE(eventually([&] { return states(d.port()) == States{{"a0", "up"}, {"a1", "up"}}; }, 10s));

    writeFile(dir.file("fleet.toml"), fleetText({{"a0", "sim:"}}) + "[[printer]]\nname = \"a1\"\n");
    ::kill(d.pid(), SIGHUP);
    json status;
    ASSERT_TRUE(eventually([&] { return (status = get(d.port(), "/api/v1/status"))["fleetFile"]["reloadError"].is_string(); }, 5s));
    EXPECT_NE(status["fleetFile"]["reloadError"].get<std::string>().find("fleet.toml:5:1: printer[1].uri: missing"),
              std::string::npos);
    EXPECT_EQ(states(d.port()), (States{{"a0", "up"}, {"a1", "up"}}));

    writeFile(dir.file("fleet.toml"), fleetText({{"a1", "sim:"}, {"a2", "sim:"}}));
    ::kill(d.pid(), SIGHUP);
    ASSERT_TRUE(eventually([&] { return states(d.port()) == States{{"a1", "up"}, {"a2", "up"}}; }, 10s));
    EXPECT_TRUE(get(d.port(), "/api/v1/status")["fleetFile"]["reloadError"].is_null());
}

TEST(KvprtdService, RefusesABadStartWithTheFaultNamed) {
    TempDir dir;
    writeFile(dir.file("bad.toml"), "[[printer]]\nname = \"x\"\n");
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string message;
    } rows[] = {
        {{"--fleet", dir.file("bad.toml")}, 1, dir.file("bad.toml") + ":1:1: printer[0].uri: missing"},
        {{"--fleet", dir.file("none.toml")}, 1, dir.file("none.toml") + ": cannot be read"},
        {{"--fleet", dir.file("bad.toml"), "--shard", "2/2"}, 2, "--shard: expected K/N"},
        {{"--fleet", dir.file("bad.toml"), "--frob"}, 2, "--frob"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--db", dir.file("k.db")});
        kvtest::Outcome run = kvtest::runProgram(KVPRTD, args);
        EXPECT_EQ(run.status, row.status) << row.args[1];
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    }
}

TEST(KvprtdService, TwoShardsCoverTheFleetOnce) {
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> printers;
    for (int i = 0; i < 12; ++i) printers.push_back({"p" + std::to_string(i), "sim:"});
    writeFile(dir.file("fleet.toml"), fleetText(printers, 30));
    SimDaemon s0 = kvprtd(dir, {"--shard", "0/2", "--db", dir.file("s0.db")});
    SimDaemon s1 = kvprtd(dir, {"--shard", "1/2", "--db", dir.file("s1.db")});
    std::map<std::string, std::string> first = states(s0.port()), second = states(s1.port());
    EXPECT_FALSE(first.empty());
    EXPECT_FALSE(second.empty());
    for (const auto& [name, state] : second) EXPECT_EQ(first.count(name), 0u) << name;   // none in both
    first.insert(second.begin(), second.end());
    EXPECT_EQ(first.size(), printers.size());   // and every one in either
}

// The report of kvprtd and of kvprt --json report: the same keys at every depth.
void sameSchema(const json& a, const json& b, const std::string& at) {
    ASSERT_EQ(a.type(), b.type()) << at;
    if (a.is_object()) {
        std::set<std::string> ka, kb;
        for (auto& [k, v] : a.items()) ka.insert(k);
        for (auto& [k, v] : b.items()) kb.insert(k);
        ASSERT_EQ(ka, kb) << at;
        for (const std::string& k : ka) sameSchema(a[k], b[k], at + "." + k);
    } else if (a.is_array() && !a.empty() && !b.empty()) {
        sameSchema(a[0], b[0], at + "[0]");
    }
}

// One kvprtd on a database holding days of samples: the days it gives, its
// report, its JSON refusals and the dashboard it serves. (The event stream
// from a given event is in the documented examples.)
TEST(KvprtdService, DaysReportErrorsAndDashboard) {
    TempDir dir;
    writeFile(dir.file("fleet.toml"), fleetText({{"a0", "sim:"}}));
    const int64_t today = kvprtd::nowMs() / kvprtd::kDayMs * kvprtd::kDayMs, hour = 3600000;
    {
        std::string error;
        auto store = kvprtd::Store::open(dir.file("k.db"), &error);
        ASSERT_TRUE(store) << error;
        int64_t id = store->printerIds({"a0"})["a0"];
        auto sample = [&](int64_t time, uint32_t pages, uint8_t level) {
            kvprtd::Sample s;
            s.time = time;
            s.pagesKnown = true;
            s.pages[0] = pages;
            s.supplies.push_back({1, level, 6});
            store->addSample(id, s);
        };
        sample(today - 3 * kvprtd::kDayMs + hour, 100, 5);
        sample(today - 3 * kvprtd::kDayMs + 2 * hour, 150, 5);   // the day's last
        sample(today - 2 * kvprtd::kDayMs + hour, 400, 5);
        sample(today - 2 * kvprtd::kDayMs + 9 * hour, 410, 4);
        sample(today - kvprtd::kDayMs + hour, 60, 4);            // the counter was reset
    }
    SimDaemon d = kvprtd(dir);
    json days;
    ASSERT_TRUE(eventually([&] {   // today's sample is written
        days = get(d.port(), "/api/v1/printers/a0/days?days=3")["days"];
        return days.size() == 3 && !days[2]["pages"].is_null();
    }, 10s)) << days;
    EXPECT_EQ(days[0]["date"], kvprtd::rfc3339(today - 2 * kvprtd::kDayMs).substr(0, 10));
    EXPECT_EQ(days[0]["pages"]["type1"], 410);
    EXPECT_EQ(days[0]["printed"]["type1"], 260);   // from 150 at the end of the day before
    EXPECT_EQ(days[0]["supplies"][0]["level"], 4);
    EXPECT_EQ(days[1]["printed"]["type1"], 60);
    EXPECT_EQ(days[2]["printed"]["type1"], 15200 - 60);   // today, as kvprtd sampled the printer
    EXPECT_EQ(get(d.port(), "/api/v1/printers/a0/days")["days"].size(), 30u);
    EXPECT_EQ(get(d.port(), "/api/v1/printers/a0/days?days=5")["days"][0]["printed"], nullptr);   // no day before

    // Its report has the keys of kvprt's; refusals are JSON.
    json report = get(d.port(), "/api/v1/printers/a0");
    ASSERT_EQ(report["poll"]["state"], "up");
    report.erase("poll");
    kvtest::Outcome kvprt = kvtest::runKvprt({"--json", "report"});
    ASSERT_EQ(kvprt.status, 0) << kvprt.err;
    sameSchema(report, kvprt.parsed(), "report");
    struct Row {
        std::string path;
        int status;
    } rows[] = {{"/api/v1/printers/nope", 404}, {"/api/v1/printers/a0/history?since=soon", 400},
                {"/api/v1/printers/a0/history?since=2&until=1", 400}, {"/api/v1/printers/a0/days?days=0", 400},
                {"/api/v1/printers/a0/days?days=367", 400}, {"/api/v1/printers/a0/days?days=1e2", 400},
                {"/nothing", 404}, {"/nothing.js", 404}};
    for (const Row& row : rows) {
        auto [status, body] = request(d.port(), row.path);
        EXPECT_EQ(status, row.status) << row.path;
        EXPECT_EQ(body["error"]["status"], row.status) << row.path;
    }

    // The dashboard's page and every script it loads, with a policy that runs nothing else.
    httplib::Client client("127.0.0.1", d.port());
    auto page = client.Get("/");
    ASSERT_TRUE(page && page->status == 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self';"), std::string::npos);
    EXPECT_EQ(client.Get("/style.css")->status, 200);
    std::vector<std::string> files = {"app.js"};
    for (size_t i = 0; i < files.size(); ++i) {
        auto file = client.Get(("/" + files[i]).c_str());
        ASSERT_TRUE(file && file->status == 200) << files[i];
        EXPECT_EQ(file->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
        std::regex imports(R"(from '\./([a-z]+\.js)')");
        for (std::sregex_iterator m(file->body.begin(), file->body.end(), imports), end; m != end; ++m)
            if (std::find(files.begin(), files.end(), (*m)[1].str()) == files.end()) files.push_back((*m)[1]);
    }
    EXPECT_GE(files.size(), 5u);   // app.js imports the others
}

// ---- a real Prometheus ----

std::string findProgram(const char* name) {
    std::stringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin");
    for (std::string dir; std::getline(path, dir, ':');)
        if (::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return "";
}

class Prometheus {
public:
    Prometheus(const std::string& program, const TempDir& dir, int port) : m_port(port) {
        std::vector<std::string> args = {program, "--config.file=" + dir.file("prometheus.yml"),
                                         "--storage.tsdb.path=" + dir.file("data"),
                                         "--web.listen-address=127.0.0.1:" + std::to_string(port)};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, dir.file("prometheus.log").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Prometheus() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    json query(const std::string& path) const { return get(m_port, path); }

private:
    int m_port;
    pid_t m_pid = -1;
};

TEST(KvprtdService, AlertRulesPassPromtool) {
    std::string promtool = findProgram("promtool");
    if (promtool.empty()) GTEST_SKIP() << "Debian's prometheus (promtool) is not installed (apt-get install prometheus)";
    EXPECT_EQ(std::system((promtool + " check rules " KVPRTD_ALERT_RULES " >/dev/null").c_str()), 0);
}

TEST(KvprtdService, PrometheusScrapesEveryPrinterAndFiresPrinterDown) {
    std::string program = findProgram("prometheus");
    if (program.empty()) GTEST_SKIP() << "Debian's prometheus is not installed (apt-get install prometheus)";
    SimDaemon pair(KVPRTSIMD, {"--copies", "2"}), single(KVPRTSIMD, {});
    TempDir dir;
    writeFile(dir.file("fleet.toml"),
              fleetText({{"pair-0", pair.uri("0")}, {"pair-1", pair.uri("1")}, {"single", single.uri("0")}}));
    SimDaemon d = kvprtd(dir);

    // The repository's rules, with every `for:` shortened to 1 s so that the test need not wait minutes.
    writeFile(dir.file("rules.yml"), std::regex_replace(kvtest::readText(KVPRTD_ALERT_RULES), std::regex("for: [0-9]+[smh]"), "for: 1s"));
    writeFile(dir.file("prometheus.yml"), "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                          "rule_files: [\"" + dir.file("rules.yml") + "\"]\n"
                                          "scrape_configs:\n  - job_name: kvprtd\n    static_configs:\n"
                                          "      - targets: [\"127.0.0.1:" + std::to_string(d.port()) + "\"]\n");
    Prometheus prometheus(program, dir, freePort());

    std::map<std::string, std::string> up;
    ASSERT_TRUE(eventually([&] {
        up.clear();
        json r = prometheus.query("/api/v1/query?query=kvprt_printer_up");
        if (r.is_object())
            for (const json& series : r["data"]["result"]) up[series["metric"]["printer"]] = series["value"][1];
        return up.size() == 3;
    }, 30s)) << "Prometheus did not see the printers; its log is in " << dir.file("prometheus.log");
    EXPECT_EQ(up, (std::map<std::string, std::string>{{"pair-0", "1"}, {"pair-1", "1"}, {"single", "1"}}));

    single.kill();
    EXPECT_TRUE(eventually([&] {
        json r = prometheus.query("/api/v1/alerts");
        if (!r.is_object()) return false;
        for (const json& a : r["data"]["alerts"])
            if (a["labels"]["alertname"] == "PrinterDown" && a["labels"]["printer"] == "single" && a["state"] == "firing")
                return true;
        return false;
    }, 30s));
}

}  // namespace
