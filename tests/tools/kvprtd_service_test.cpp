// kvprtd as a program, against kvprtsimd printers, in-process sim: printers and
// net:// printers of snmpsim; scraped by a real Prometheus where Debian's
// prometheus is installed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <utility>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "env.h"
#include "kvprtd_rig.h"
#ifdef KVPRTD_NET_RECORDINGS
#include "snmpsim_peer.h"
#endif

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
    // A printer that is down exports its state and info, none of its last alerts or levels.
    auto metrics = httplib::Client("127.0.0.1", d.port()).Get("/metrics");
    ASSERT_TRUE(metrics);
    const std::regex flakyLine("\\n(\\w+)\\{printer=\"flaky\"");
    std::string flakySeries;
    for (std::sregex_iterator it(metrics->body.begin(), metrics->body.end(), flakyLine), end; it != end; ++it)
        flakySeries += (*it)[1].str() + " ";
    EXPECT_EQ(flakySeries, "kvprt_printer_up kvprt_printer_info ");

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

// The database refuses writes (a file size limit of 0 on kvprtd, as a full disk would): the events of
// the meanwhile are kept and written once it takes them again, and the refusals are counted.
TEST(KvprtdService, EventsOutliveADatabaseThatRefusesWrites) {
    SimDaemon printer(KVPRTSIMD, {});
    TempDir dir;
    writeFleet(dir, {{"p", printer.uri("0")}});
    SimDaemon d = startKvprtd(dir);
    ASSERT_TRUE(eventually([&] { return states(d.port())["p"] == "up"; }, 10s));
    auto fileSizeLimit = [&](rlim_t limit) {
        const rlimit r{limit, RLIM_INFINITY};
        return ::prlimit(d.pid(), RLIMIT_FSIZE, &r, nullptr) == 0;
    };
    auto database = [&](const char* key) { return get(d.port(), "/api/v1/status")["database"][key]; };
    auto kinds = [&] {
        std::string text;
        for (const json& e : get(d.port(), "/api/v1/printers/p/history", "/events"_json_pointer))
            text += e["kind"].get<std::string>() + " ";
        return text;
    };
    // The state shows "up" before the store's thread has written its event: under load that may lag.
    ASSERT_TRUE(eventually([&] { return kinds() == "up "; }, 10s)) << kinds();
    ASSERT_TRUE(fileSizeLimit(0));
    printer.kill();
    ASSERT_TRUE(eventually([&] { return database("eventsWaiting") == 1; }, 10s)) << database("eventsWaiting");
    EXPECT_GE(database("writeErrors"), 1);
    printer.restart();
    ASSERT_TRUE(eventually([&] { return states(d.port())["p"] == "up"; }, 15s));
    ASSERT_TRUE(fileSizeLimit(RLIM_INFINITY));
    EXPECT_TRUE(eventually([&] { return kinds() == "up down up "; }, 15s)) << kinds();
    EXPECT_EQ(database("eventsWaiting"), 0);
}

// A raw TCP client of kvprtd: `request` sent at once (if any), the socket kept open.
int connectTo(int port, const std::string& request = "") {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    if (!request.empty() && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) return ::close(fd), -1;
    return fd;
}

// What a raw client reads until the server closes or `limit` passes; "EOF" appended when it closed.
std::string readAll(int fd, std::chrono::milliseconds limit, size_t most = 4096) {
    std::string text;
    for (auto end = std::chrono::steady_clock::now() + limit; text.size() < most;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[4096];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return text + "EOF";
        text.append(chunk, static_cast<size_t>(n));
    }
    return text;
}

// The HTTP server holds its ground: /metrics answers within a second (three under ThreadSanitizer)
// while 2,000 idle connections and 500 event-stream clients are held; stream slots beyond the
// per-address cap, oversized headers and connections beyond the cap are refused at once and closed;
// idle connections are closed.
TEST(KvprtdService, HttpHoldsItsGroundUnderIdleClientsStreamsAndHugeHeaders) {
    rlimit files{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
    if (files.rlim_max < 5000) GTEST_SKIP() << "needs 5,000 descriptors, the hard limit is " << files.rlim_max;
    files.rlim_cur = files.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
    TempDir dir;
    writeFleet(dir, {{"p", "sim:"}});
    SimDaemon d = startKvprtd(dir);
    ASSERT_TRUE(eventually([&] { return states(d.port())["p"] == "up"; }, 10s));

    std::vector<int> idle, streams;
    auto closeAll = [](std::vector<int>& fds) {
        for (int fd : fds) ::close(fd);
        fds.clear();
    };
    const auto opened = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000; ++i) idle.push_back(connectTo(d.port()));
    const std::string streamRequest = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (int i = 0; i < 500; ++i) streams.push_back(connectTo(d.port(), streamRequest));
    ASSERT_EQ(std::count(idle.begin(), idle.end(), -1) + std::count(streams.begin(), streams.end(), -1), 0);

    // ThreadSanitizer makes kvprtd several times slower, with another test beside it; a server that
    // waited on the idle connections would still take their idle time (5 s).
#if defined(__SANITIZE_THREAD__)
    constexpr auto kAnswerWithin = 3s;
#else
    constexpr auto kAnswerWithin = 1s;
#endif
    httplib::Client client("127.0.0.1", d.port());
    client.set_connection_timeout(kAnswerWithin + 1s);
    client.set_read_timeout(kAnswerWithin + 1s);
    const auto asked = std::chrono::steady_clock::now();
    auto metrics = client.Get("/metrics");
    const auto took = std::chrono::steady_clock::now() - asked;
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->status, 200);
    EXPECT_LT(took, kAnswerWithin) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";

    // Eight streams from one address, whichever the server's threads took first; every other is
    // refused and its connection closed.
    size_t accepted = 0, refused = 0;
    std::string unexpected;
    for (int fd : streams) {
        const std::string head = readAll(fd, 3s, 16);
        if (head.starts_with("HTTP/1.1 200")) {
            ++accepted;
        } else if (head.starts_with("HTTP/1.1 503") && (head + readAll(fd, 3s)).ends_with("EOF")) {
            ++refused;
        } else {
            unexpected += head.substr(0, 40) + "\n";
        }
    }
    EXPECT_EQ(std::pair(accepted, refused), std::pair(size_t{8}, streams.size() - 8)) << unexpected;

    // Headers beyond 100 fields or 16 KiB: 431, and closed.
    std::string manyFields = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n", longField = manyFields;
    for (int i = 0; i < 150; ++i) manyFields += "X-" + std::to_string(i) + ": 1\r\n";
    longField += "X-Long: " + std::string(20000, 'a') + "\r\n";
    for (const std::string& request : {manyFields + "\r\n", longField + "\r\n"}) {
        int fd = connectTo(d.port(), request);
        const std::string reply = readAll(fd, 3s);
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 431") && reply.ends_with("EOF")) << reply.substr(0, 200);
        ::close(fd);
    }

    // Beyond 4,096 open connections, a new one is told so at once and closed.
    std::vector<int> more;
    for (int i = 0; i < 2200; ++i) more.push_back(connectTo(d.port()));
    const std::string beyond = readAll(more.back(), 3s);
    EXPECT_TRUE(beyond.starts_with("HTTP/1.1 503") && beyond.ends_with("EOF")) << beyond.substr(0, 200);
    closeAll(more);
    closeAll(streams);

    // An idle connection that sends nothing is closed after 10 s.
    EXPECT_EQ(readAll(idle.front(), std::chrono::duration_cast<std::chrono::milliseconds>(opened + 13s -
                                                                                          std::chrono::steady_clock::now())),
              "EOF");
    closeAll(idle);
}

TEST(KvprtdService, AnnouncedAlertsAreReadAtOnce) {
    SimDaemon noisy(KVPRTSIMD, {"--raise-alerts-ms", "200"});
    TempDir dir;
    writeFleet(dir, {{"noisy", noisy.uri("0")}}, 3600);   // no second poll by the clock
    SimDaemon d = startKvprtd(dir);
    // Family -> what the line of one of its alerts says once its data were read (a variable's value too).
    // A job's name and user are kept only with --expose-jobs.
    const States expected = {{"deviceStatus", ""}, {"operatorPanel", "NOT READY"}, {"jobStatus", "a job: Printing"},
                             {"variableEvent", "variable 07 54 = \"ASSET-0042\""}};
    std::set<std::string> families;
    EXPECT_TRUE(eventually([&] {
        for (const json& e : get(d.port(), "/api/v1/printers/noisy/history", "/events"_json_pointer))
            if (e["kind"] == "alert-received" && e["data"]["read"] == true && expected.count(e["data"]["familyName"]) &&
                e["text"].get<std::string>().find(expected.at(e["data"]["familyName"])) != std::string::npos)
                families.insert(e["data"]["familyName"]);
        return families.size() == expected.size();
    }, 15s)) << get(d.port(), "/api/v1/printers/noisy/history")["events"];
    const std::string history = get(d.port(), "/api/v1/printers/noisy/history").dump();
    EXPECT_EQ(history.find("alice"), std::string::npos);
    EXPECT_EQ(history.find("quarterly-report"), std::string::npos);
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

    // A file that lists no printers drops none, unless it says so; the refusal is a metric too.
    auto reloaded = [&](const char* text) {
        writeText(dir.file("fleet.toml"), text);
        ::kill(d.pid(), SIGHUP);
        return eventually([&] { return get(d.port(), "/api/v1/status")["fleetFile"]["reloadError"] != error; }, 5s);
    };
    ASSERT_TRUE(reloaded(""));
    error = get(d.port(), "/api/v1/status")["fleetFile"]["reloadError"];
    EXPECT_NE(error.dump().find("lists no printers"), std::string::npos) << error;
    EXPECT_EQ(states(d.port()), (States{{"a0", "up"}, {"a1", "up"}}));
    auto r = httplib::Client("127.0.0.1", d.port()).Get("/metrics");
    ASSERT_TRUE(r);
    EXPECT_NE(r->body.find("\nkvprtd_fleet_reload_success 0\n"), std::string::npos);
    ASSERT_TRUE(reloaded("printer = []\n"));
    EXPECT_TRUE(eventually([&] { return states(d.port()).empty(); }, 5s));

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
    SimDaemon faulty(KVPRTSIMD, {"--faulty", "1"});   // the troubled printer of report.golden.json
    writeFleet(dir, {{"a0", faulty.uri()}});
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

    // Its report is kvprt's (report.golden.json) with the poll's state, but for who printed what,
    // which only --expose-jobs keeps.
    json golden = json::parse(readText(KVPRT_GOLDEN_DIR "/report.golden.json"));
    golden["printer"]["uri"] = faulty.uri();
    json anonymous = golden;
    for (json& job : anonymous["jobs"]) job["name"] = job["user"] = nullptr;
    json report = get(d.port(), "/api/v1/printers/a0");
    EXPECT_EQ(report["poll"]["state"], "up");
    report.erase("poll");
    EXPECT_EQ(report, anonymous);
    SimDaemon exposing = startKvprtd(dir, {"--expose-jobs", "--db", dir.file("exposing.db")});
    ASSERT_TRUE(eventually([&] {   // polled, and its other sections read
        report = get(exposing.port(), "/api/v1/printers/a0");
        return report["jobs"].is_array() && report["deviceStatus"].contains("byte0Bit0");
    }, 10s)) << report;
    report.erase("poll");
    EXPECT_EQ(report, golden);
}

// Prometheus scrapes every printer and fires PrinterDown for the one whose
// daemon dies (the rules' own unit tests: alert_rules_test.yml).
TEST(KvprtdService, PrometheusScrapesEveryPrinterAndFiresPrinterDown) {
    if (std::system("command -v prometheus >/dev/null") != 0)
        GTEST_SKIP() << "Debian's prometheus is not installed (apt-get install prometheus)";
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

#ifdef KVPRTD_NET_RECORDINGS
// net:// printers of snmpsim's recordings: one healthy, one with alerts, one whose supply levels are
// no measurement, one that never answers (a community snmpsim does not serve) and one whose URI the
// backend refuses. Each community is a secret: no output of kvprtd shows one.
TEST(KvprtdService, NetPrintersThroughSnmpsim) {
    if (!installed("snmpsimd")) GTEST_SKIP() << "Debian's snmpsim is not installed (apt-get install snmpsim)";
    TempDir dir;
    const std::string secret = "hush";   // every community starts with it, no printer's name holds it
    std::vector<std::string> recordings;
    for (const std::string name : {"healthy", "alerts", "levels"}) {
        recordings.push_back(dir.file(secret + name + ".snmprec"));
        std::filesystem::copy_file(KVPRTD_NET_RECORDINGS "/" + name + ".snmprec", recordings.back());
    }
    SnmpSim agent(recordings);
    writeFleet(dir, {{"healthy", agent.uri(secret + "healthy")}, {"alerts", agent.uri(secret + "alerts")},
                     {"levels", agent.uri(secret + "levels")}, {"silent", agent.uri(secret + "silent")},
                     {"refused", "net://127.0.0.1?community=" + secret + "refused&colour=1"}});
    SimDaemon d = startKvprtd(dir, {"--snmp-traps", "127.0.0.1:" + std::to_string(freeUdpPort())}, dir.file("kvprtd.log"));
    ASSERT_TRUE(eventually([&] {
        return states(d.port()) == States{{"alerts", "up"}, {"healthy", "up"}, {"levels", "up"}, {"refused", "down"},
                                          {"silent", "down"}};
    }, 30s)) << get(d.port(), "/api/v1/printers");
    // 20 of its own and the backend's loop, whatever the number of printers (ThreadSanitizer adds one).
#if defined(__SANITIZE_THREAD__)
    constexpr long kSanitizerThreads = 1;
#else
    constexpr long kSanitizerThreads = 0;
#endif
    EXPECT_LE(d.status("Threads"), 21 + kSanitizerThreads);

    std::map<std::string, json> summary;
    for (const json& p : get(d.port(), "/api/v1/printers", "/printers"_json_pointer)) summary[p["name"]] = p;
    EXPECT_EQ(summary["healthy"]["pages"]["type1"], 48213);
    EXPECT_EQ(get(d.port(), "/api/v1/printers/healthy/history", "/samples/0/pages/type1"_json_pointer), 48213);
    EXPECT_FALSE(summary["alerts"]["alerts"].empty());
    EXPECT_NE(summary["refused"]["error"].get<std::string>().find("-22"), std::string::npos) << summary["refused"];
    EXPECT_NE(summary["silent"]["error"].get<std::string>().find("-17"), std::string::npos) << summary["silent"];

    // A level that is no measurement has no ratio: none in the API, none among the metrics.
    httplib::Client client("127.0.0.1", d.port());
    const std::string metrics = client.Get("/metrics")->body;
    std::set<std::string> unmeasured;
    bool someRemaining = false;
    for (const json& supply : summary["levels"]["supplies"]) {
        const std::string line = "kvprt_supply_level_ratio{printer=\"levels\",supply=\"" + supply["supply"].dump() + "\"}";
        if (supply["levelCount"] < 2) {
            EXPECT_TRUE(supply["ratio"].is_null()) << supply;
            EXPECT_EQ(metrics.find(line), std::string::npos) << line;
            unmeasured.insert(supply["supply"].dump());
            someRemaining = someRemaining || supply["someRemaining"] == true;
        } else {
            EXPECT_NE(metrics.find(line), std::string::npos) << line;
        }
    }
    EXPECT_FALSE(unmeasured.empty());
    EXPECT_TRUE(someRemaining);
    EXPECT_NE(metrics.find("kvprt_supply_level_ratio{printer=\"healthy\",supply=\"1\"} 0.39"), std::string::npos);

    // What no standard carries is not available from the printer, and no failure; the printer type is
    // none the library knows.
    json report = get(d.port(), "/api/v1/printers/healthy");
    EXPECT_EQ(report["jobs"].count("unavailable"), 1u) << report["jobs"];
    for (const auto& [key, section] : report.items())
        EXPECT_TRUE(key == "poll" || !section.is_object() || !section.contains("error")) << key << ": " << section;
    EXPECT_EQ(json({report["printer"]["printerType"], report["printer"]["rawPrinterType"]}), json({nullptr, 1}));
    // The panel's lock is asked from the completion of its text, on the backend's loop.
    EXPECT_EQ(json({report["panel"]["lines"][0], report["panel"]["locked"]}), json({"Ready", false})) << report["panel"];

    // No output shows a community: the API, the metrics, the event stream and the log.
    std::string outputs = metrics + get(d.port(), "/api/v1/status").dump() + get(d.port(), "/api/v1/printers").dump();
    for (const auto& [name, p] : summary)
        for (const std::string path : {"", "/history", "/days"})
            outputs += get(d.port(), "/api/v1/printers/" + name + path).dump();
    client.set_read_timeout(1, 0);   // the stream stays open: read what it has
    client.Get("/api/v1/events?lastEventId=0", [&](const char* data, size_t size) {
        outputs.append(data, size);
        return outputs.size() < (1u << 20);
    });
    EXPECT_NE(outputs.find("event: down"), std::string::npos);
    EXPECT_NE(outputs.find("net://127.0.0.1?protocols=snmp"), std::string::npos);   // the URIs are shown
    outputs += readText(dir.file("kvprtd.log"));
    EXPECT_EQ(outputs.find(secret), std::string::npos) << outputs.substr(outputs.find(secret) - std::min<size_t>(outputs.find(secret), 200), 400);
}

// A D-Bus system bus and an avahi-daemon of the test's own, publishing what avahi-publish is given
// (its arguments, one list each) until destroyed; kvprt's avahi-browse finds them through the bus.
// The daemon has network and mount namespaces of its own: a loopback no other mDNS stack is on, and
// a /run holding its pid file and socket, not those of the host's daemon.
class PrivateAvahi {
public:
    explicit PrivateAvahi(const std::vector<std::vector<std::string>>& publications) {
        writeText(m_dir.file("bus.conf"), "<busconfig><type>system</type><listen>unix:path=" + m_dir.file("bus") +
                  "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                  "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>");
        writeText(m_dir.file("avahi.conf"), "[server]\nhost-name=kvtest\nuse-ipv6=no\nallow-interfaces=lo\n"
                  "[wide-area]\nenable-wide-area=no\n[publish]\npublish-addresses=no\n");
        m_children.pids.push_back(spawn({"dbus-daemon", "--nofork", "--print-address", "--config-file=" + m_dir.file("bus.conf")},
                                        m_dir.file("bus.log")));
        waitFor("bus.log", "unix:path");   // it listens
        const std::vector<std::string> daemon = {"unshare", "--mount", "--net", "sh", "-c",
            "ip link set lo up && mount -t tmpfs tmpfs /run && exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f " +
            m_dir.file("avahi.conf")};
        m_children.pids.push_back(spawn(daemon, m_dir.file("avahi.log")));
        for (size_t i = 0; i < publications.size(); ++i) {
            std::vector<std::string> args = {"avahi-publish", "--no-fail"};   // waits for the daemon
            args.insert(args.end(), publications[i].begin(), publications[i].end());
            m_children.pids.push_back(spawn(args, m_dir.file("publish" + std::to_string(i))));
        }
        for (size_t i = 0; i < publications.size(); ++i) waitFor("publish" + std::to_string(i), "Established");
    }
    void stopDaemon() { stop(std::exchange(m_children.pids[1], -1), SIGKILL); }

private:
    void waitFor(const std::string& log, const std::string& text) {
        if (!eventually([&] { return readText(m_dir.file(log)).find(text) != std::string::npos; }, 10s))
            throw std::runtime_error(log + " lacks \"" + text + "\" after 10 s: " + readText(m_dir.file(log)) +
                                     "\navahi-daemon: " + readText(m_dir.file("avahi.log")));
    }
    TempDir m_dir;
    EnvOverride m_bus{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + m_dir.file("bus")};
    struct Children {   // killed in reverse order, also when the constructor throws
        std::vector<pid_t> pids;
        ~Children() { std::for_each(pids.rbegin(), pids.rend(), [](pid_t pid) { stop(pid, SIGKILL); }); }
    } m_children;
};

// kvprt discover sweeps 127.0.0.0/28: one printer answering on two addresses (one line), one whose
// name holds a terminal escape. kvprtd takes the fleet file it writes, and a second sweep keeps the
// name and tags edited in it. With --dns-sd, the services a private avahi-daemon announces join
// the printers of their addresses, their escaped names and TXT values read back; a daemon that
// is gone leaves a note and the sweep.
TEST(KvprtdService, DiscoverWritesAFleetFileKvprtdTakes) {
    if (!installed("snmpsimd")) GTEST_SKIP() << "Debian's snmpsim is not installed (apt-get install snmpsim)";
    TempDir dir;
    const uint16_t port = freeUdpPort();
    SnmpSim alpha({KVPRTD_NET_RECORDINGS "/discover/alpha.snmprec"}, "public", {"127.0.0.2", "127.0.0.3"}, port);
    SnmpSim beta({KVPRTD_NET_RECORDINGS "/discover/beta.snmprec"}, "public", {"127.0.0.5"}, port);
    const std::string sweep = KVPRT_BINARY " discover 127.0.0.0/28 --snmp-port " + std::to_string(port) +
                              " --write-fleet " + dir.file("fleet.toml");
    auto discover = [&](const std::string& more) {   // its standard output
        std::string out;
        EXPECT_EQ(run("(" + sweep + more + " 2>/dev/null)", &out), 0) << out;
        return out;
    };
    EXPECT_EQ(discover(""), "Address               Name         Model                 Serial    Found by\n"
                            "127.0.0.2, 127.0.0.3  floor-a      Example Printer 4000  EXA-1001  snmp\n"
                            "127.0.0.5             bet\\x1B[2Ja  Example Color 5100    EXB-2002  snmp\n");
    std::string fleet = readText(dir.file("fleet.toml"));
    fleet.replace(fleet.find("name = 'floor-a'"), 16, "name = 'office-a'\ntags = ['finance']");
    writeText(dir.file("fleet.toml"), fleet);

    EXPECT_EQ(json::parse(discover(" --json"))["printers"][1], json::parse(R"({"addresses": ["127.0.0.5"], "name": "bet\u001b[2Ja",
        "model": "Example Color 5100", "serial": "EXB-2002", "foundBy": ["snmp"]})"));
    EXPECT_NE(readText(dir.file("fleet.toml")).find("name = 'office-a'\nserial = 'EXA-1001'\ntags = [ 'finance' ]\n"
                                                    "uri = 'net://127.0.0.2?snmp-port=" + std::to_string(port) + "'"),
              std::string::npos) << readText(dir.file("fleet.toml"));
    SimDaemon d = startKvprtd(dir);
    EXPECT_TRUE(eventually([&] { return states(d.port()).size() == 2; }, 10s)) << get(d.port(), "/api/v1/printers");
    EXPECT_EQ(states(d.port()).count("office-a"), 1u);

    for (const char* tool : {"dbus-daemon", "avahi-daemon", "avahi-publish", "avahi-browse", "unshare", "ip"})
        if (!installed(tool)) GTEST_SKIP() << tool << " is not on PATH (apt-get install dbus avahi-daemon avahi-utils iproute2)";
    if (::geteuid() != 0) GTEST_SKIP() << "a private avahi-daemon needs root (namespaces of its own, a /run there)";
    PrivateAvahi avahi({{"-a", "-R", "alpha.local", "127.0.0.3"},
                        {"-s", "-H", "alpha.local", "floor-a queue", "_ipp._tcp", "631", "ty=Example Printer 4000 IPP"},
                        {"-a", "-R", "solo.local", "127.0.0.9"},
                        {"-s", "-H", "solo.local", "B\u00fcro; 2.0\x1b", "_pdl-datastream._tcp", "9100",
                         "TY=Example \"Q\" 300", "note=\"ty=decoy"}});
    EXPECT_EQ(json::parse(discover(" --dns-sd --json"))["printers"], json::parse(R"([
        {"addresses": ["127.0.0.2", "127.0.0.3"], "name": "floor-a", "model": "Example Printer 4000", "serial": "EXA-1001",
         "foundBy": ["snmp", "dns-sd"]},
        {"addresses": ["127.0.0.5"], "name": "bet\u001b[2Ja", "model": "Example Color 5100", "serial": "EXB-2002", "foundBy": ["snmp"]},
        {"addresses": ["127.0.0.9"], "name": "B\u00fcro; 2.0\u001b", "model": "Example \"Q\" 300", "serial": null, "foundBy": ["dns-sd"]}])"));
    EXPECT_NE(readText(dir.file("fleet.toml")).find("name = 'B--ro--2.0-'\nuri = 'net://127.0.0.9?snmp-port="), std::string::npos)
        << readText(dir.file("fleet.toml"));
    avahi.stopDaemon();
    std::string out;
    EXPECT_EQ(run(sweep + " --dns-sd", &out), 0);
    EXPECT_NE(out.find("DNS-SD not asked (is avahi-daemon running?): Failed to create client object"), std::string::npos) << out;
    EXPECT_NE(out.find("127.0.0.5 "), std::string::npos) << out;
}

// Runs one of net-snmp's tools (no MIB files, no configuration of the user's); whether it succeeded.
bool snmpTool(const TempDir& dir, const std::string& arguments) {
    const std::string files = dir.file("");
    return std::system(("SNMP_PERSISTENT_DIR=" + files + " SNMPCONFPATH=" + files + " MIBS= " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// With --snmp-traps a trap from a net:// printer's address polls it at once: its status, changed in the
// agent after kvprtd's first poll, is announced and read within seconds, not at the next poll an hour on.
// A trap port kvprtd cannot bind stops it at start.
TEST(KvprtdService, SnmpTrapPollsTheNetPrinterAtOnce) {
    if (!installed("snmpsimd") || !installed("snmptrap") || !installed("snmpset"))
        GTEST_SKIP() << "Debian's snmpsim and snmp are not installed";
    TempDir dir;
    std::string recording = readText(KVPRTD_NET_RECORDINGS "/healthy.snmprec");
    const std::string status = "1.3.6.1.2.1.25.3.5.1.1.1|2|3";   // hrPrinterStatus idle, made writable
    ASSERT_NE(recording.find(status), std::string::npos);
    recording.replace(recording.find(status), status.size(), "1.3.6.1.2.1.25.3.5.1.1.1|2:writecache|value=3");
    writeText(dir.file("trapped.snmprec"), recording);
    SnmpSim agent({dir.file("trapped.snmprec")});
    writeFleet(dir, {{"trapped", agent.uri("trapped")}}, 3600);
    const std::string traps = "127.0.0.1:" + std::to_string(freeUdpPort());
    {   // A trap port it cannot have stops it at once, saying so.
        const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&at), size), 0);
        ::getsockname(taken, reinterpret_cast<sockaddr*>(&at), &size);
        const std::string takenAt = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));
        EXPECT_EQ(std::system((KVPRTD " --fleet " + dir.file("fleet.toml") + " --db " + dir.file("k.db") +
                               " --snmp-traps " + takenAt + " 2>" + dir.file("taken.log")).c_str()), 1 << 8);
        EXPECT_EQ(readText(dir.file("taken.log")), "kvprtd: --snmp-traps: cannot listen on " + takenAt + ": Address already in use\n");
        ::close(taken);
    }
    SimDaemon d = startKvprtd(dir, {"--snmp-traps", traps});
    ASSERT_TRUE(eventually([&] { return states(d.port()) == States{{"trapped", "up"}}; }, 20s));

    const std::string agentAt = "127.0.0.1:" + std::to_string(agent.port());
    ASSERT_TRUE(snmpTool(dir, "snmpset -v2c -c trapped " + agentAt + " 1.3.6.1.2.1.25.3.5.1.1.1 i 4"));   // printing
    ASSERT_TRUE(snmpTool(dir, "snmptrap -v2c -c public " + traps + " '' 1.3.6.1.2.1.43.18.2.0.1"));
    EXPECT_TRUE(eventually([&] {
        for (const json& e : get(d.port(), "/api/v1/printers/trapped/history", "/events"_json_pointer))
            if (e["kind"] == "alert-received" && e["data"]["familyName"] == "deviceStatus") return true;
        return false;
    }, 10s)) << get(d.port(), "/api/v1/printers/trapped/history")["events"];
}
#endif

}  // namespace
