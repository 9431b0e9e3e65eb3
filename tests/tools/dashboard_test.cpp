// kvprtd's dashboard in headless chromium, driven through chromedriver's WebDriver API: three
// kvprtsimd printers with 30 days of history appear, an alert raised on one arrives without a reload,
// a printer whose daemon is killed goes down, a printer of 12,000 events opens at once, 500 more
// printers fill the window line by line and a tile filters them; net:// printers of snmpsim show what
// they do not measure or carry in words, and never their community; screenshots of the views (and
// the fleet at phone width) go to the build folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "kvprtd_rig.h"
#ifdef DASHBOARD_NET_RECORDINGS
#include "snmpsim_peer.h"
#endif

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using kvtest::SimDaemon;

// One headless chromium, through a chromedriver of its own.
class Browser {
public:
    Browser(const std::string& profileDir)
        : m_port(kvtest::freePort()),
          m_driver(kvtest::startOnPort(CHROMEDRIVER, {"--port=" + std::to_string(m_port)}, m_port, "/dev/null")),
          m_client("127.0.0.1", m_port) {
        m_client.set_read_timeout(60);
        kvtest::eventually([&] { return !!m_client.Get("/status"); }, 10s);
        // This machine's network may be closed: nothing that would reach out.
        json args = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--hide-scrollbars", "--user-data-dir=" + profileDir};
        json session = call("POST", "/session",
                            {{"capabilities", {{"alwaysMatch", {{"goog:chromeOptions", {{"binary", CHROMIUM}, {"args", args}}}}}}}});
        m_session = "/session/" + session.value("sessionId", std::string());
    }
    ~Browser() { if (ready()) call("DELETE", m_session); }
    bool ready() const { return m_session != "/session/"; }

    void open(const std::string& url) { call("POST", m_session + "/url", {{"url", url}}); }
    void resize(int width, int height) { call("POST", m_session + "/window/rect", {{"width", width}, {"height", height}}); }
    // Runs `script` (a function body) in the page; its return value.
    json run(const std::string& script) { return call("POST", m_session + "/execute/sync", {{"script", script}, {"args", json::array()}}); }
    // Waits until `script` returns true.
    bool waitFor(const std::string& script) { return kvtest::eventually([&] { return run(script) == true; }, 20s); }
    // A PNG of the whole page at `width` (of the window's `height`, if given).
    void screenshot(const std::string& path, int width, int height = 0) {
        resize(width, 900);
        // 140: the window's frame
        resize(width, height ? height : std::min(run("return document.documentElement.scrollHeight").get<int>() + 140, 4000));
        run("window.scrollTo(0, 0)");
        std::this_thread::sleep_for(300ms);
        kvtest::writeText(path + ".base64", call("GET", m_session + "/screenshot").get<std::string>());
        EXPECT_EQ(std::system(("base64 -d " + path + ".base64 > " + path + " && rm " + path + ".base64").c_str()), 0);
    }

private:
    json call(const std::string& method, const std::string& path, const json& body = nullptr) {
        httplib::Result r = method == "GET"      ? m_client.Get(path.c_str())
                            : method == "DELETE" ? m_client.Delete(path.c_str())
                                                 : m_client.Post(path.c_str(), body.dump(), "application/json");
        json reply = r ? json::parse(r->body, nullptr, false) : json();
        return reply.is_object() ? reply.value("value", json(nullptr)) : json(nullptr);
    }

    int m_port;
    SimDaemon m_driver;
    httplib::Client m_client;
    std::string m_session = "/session/";
};

// The JavaScript expression of a printer's row.
std::string row(const std::string& printer) { return "document.querySelector('tr[data-printer=\"" + printer + "\"]')"; }

TEST(Dashboard, LiveFleetInChromium) {
    if (::access(CHROMIUM, X_OK) != 0 || ::access(CHROMEDRIVER, X_OK) != 0)
        GTEST_SKIP() << "chromium and chromium-driver are not installed (.ci/install-deps installs them)";
    kvtest::TempDir dir;
    // The printer whose daemon will die shows texts that look like markup.
    json hostile = json::parse(std::ifstream(KVPRTSIM_DEFAULT_PROFILE));
    hostile["identity"]["model"] = "<img src=x onerror=\"window.kvInjected=1\">";
    kvtest::writeText(dir.file("hostile.json"), hostile.dump());
    SimDaemon pair(KVPRTSIMD, {"--copies", "2", "--faulty", "2"}), doomed(KVPRTSIMD, {"--profile", dir.file("hostile.json")});
    kvtest::writeText(dir.file("fleet.toml"), "poll_interval_s = 1\n"
        "[[printer]]\nname = \"floor1-laser\"\nuri = \"" + pair.uri("0") + "\"\nlocation = \"Floor 1, copy room\"\ntags = [\"finance\"]\n"
        "[[printer]]\nname = \"floor1-color\"\nuri = \"" + pair.uri("1") + "\"\nlocation = \"Floor 1 " +
        std::string(200, 'w') + " evil \\u202ERTL\"\n"
        "[[printer]]\nname = \"floor2-laser\"\nuri = \"" + doomed.uri("0") + "\"\nlocation = \"<b>Floor 2</b> & <i>annex</i>\"\ntags = [\"hr\"]\n");
    // 30 days of page counts (uneven days, down to what kvprtsimd's printers count today) and toner levels,
    // falling as a printer's do, so that the charts and the forecast have something to show.
    const int64_t today = kvprtd::nowMs() / kvprtd::kDayMs * kvprtd::kDayMs;
    for (const std::string name : {"floor1-laser", "floor1-color", "floor2-laser"}) {
        std::vector<std::array<int64_t, 3>> samples;
        for (int64_t day = 1; day <= 30; ++day)
            samples.push_back({today - day * kvprtd::kDayMs + 18 * 3600000,
                               15200 - day * 400 + (day * 137 + static_cast<int64_t>(name.size()) * 61) % 340,
                               3 + (day - 1) / 10});
        kvtest::addSamples(dir.file("k.db"), name, samples);
    }
    {   // 12,000 announcements of the last hours: the printer's event log reads them 100 at a time.
        std::string error;
        auto store = kvprtd::Store::open(dir.file("k.db"), &error);
        ASSERT_TRUE(store) << error;
        const int64_t id = store->printerIds({"floor1-laser"})["floor1-laser"];
        for (uint64_t i = 1; i <= 12000; ++i)
            store->addEvent(id, {i, kvprtd::nowMs() - 13000000 + static_cast<int64_t>(i) * 1000, "floor1-laser",
                                 "alert-received", "deviceStatus: announced", {}});
        store->flush();
    }
    SimDaemon kvprtd = kvtest::startKvprtd(dir);
    const std::string site = "http://127.0.0.1:" + std::to_string(kvprtd.port()) + "/";

    Browser browser(dir.file("profile"));
    ASSERT_TRUE(browser.ready()) << "chromedriver did not start a session";
    browser.resize(1280, 900);
    browser.open(site);
    ASSERT_TRUE(browser.waitFor("return document.querySelectorAll('tr[data-state=\"up\"]').length === 3"))
        << browser.run("return document.body.innerText");
    browser.run("window.kvMark = 'this page, not reloaded'");

    // An alert: "continue" clears the operator intervention and the printer announces its panel; the
    // feed shows announcements only when asked to.
    browser.run("document.getElementById('show-announcements').click()");
    ASSERT_EQ(std::system((KVPRT_BINARY " -p " + pair.uri("1") + " panel continue >/dev/null").c_str()), 0);
    EXPECT_TRUE(browser.waitFor(
        "return !!document.querySelector("
        "'#live-events li[data-printer=\"floor1-color\"][data-kind=\"alert-received\"]') && !" +
        row("floor1-color") + ".textContent.includes('Close the top cover') && " + row("floor1-laser") +
        ".textContent.includes('Close the top cover')"));
    EXPECT_EQ(browser.run("document.getElementById('show-announcements').click();"
                          " return document.querySelectorAll('#live-events li[data-kind=\"alert-received\"]').length"), 0);

    doomed.kill();
    // Down in words, with the system's reason; the code in its tooltip.
    EXPECT_TRUE(browser.waitFor("return " + row("floor2-laser") + ".dataset.state === 'down' && " + row("floor2-laser") +
                                ".querySelector('.badge').textContent === 'Down' && " + row("floor2-laser") +
                                ".querySelector('.problem').textContent === 'Not reachable: connection refused' && " + row("floor2-laser") +
                                ".querySelector('.problem').title.includes('-10') && " + row("floor2-laser") +
                                ".querySelector('.since time').dateTime !== ''"));
    // Problems first, the page not reloaded; printer texts are text (the location shows its brackets,
    // no element came of them); labelled controls, one heading of the first level; the rows the
    // filters by text and by state leave.
    EXPECT_EQ(browser.run("const filter = (id, value) => { const c = document.getElementById(id); c.value = value;"
                          " c.dispatchEvent(new Event('input'));"
                          " return [...document.querySelectorAll('tr[data-printer]')].map((r) => r.dataset.printer).sort(); };"
                          "return {first: document.querySelector('tr[data-printer]').dataset.printer, mark: window.kvMark,"
                          " location: " + row("floor2-laser") + ".querySelector('.location').textContent,"
                          " markup: document.querySelectorAll('main b, main i').length,"
                          " labelled: [...document.querySelectorAll('input, select')].every((c) => c.labels.length === 1),"
                          " h1: document.querySelectorAll('h1').length, annex: filter('filter-text', 'annex'),"
                          " up: (filter('filter-text', ''), filter('filter-state', 'up')),"
                          " all: filter('filter-state', 'all')}"),
              (json{{"first", "floor2-laser"}, {"mark", "this page, not reloaded"}, {"location", "<b>Floor 2</b> & <i>annex</i>"},
                    {"markup", 0}, {"labelled", true}, {"h1", 1}, {"annex", json::array({"floor2-laser"})},
                    {"up", json::array({"floor1-color", "floor1-laser"})},
                    {"all", json::array({"floor1-color", "floor1-laser", "floor2-laser"})}}));

    // Hostile text: a word of 256 letters breaks rather than widening the table; a direction
    // override shows as its code.
    EXPECT_EQ(browser.run("return [document.documentElement.scrollWidth <= window.innerWidth, " + row("floor1-color") +
                          ".querySelector('.location').textContent.endsWith('evil ⟨U+202E⟩RTL')]"),
              json::array({true, true}));

    std::filesystem::create_directories(DASHBOARD_SCREENSHOTS);
    browser.screenshot(DASHBOARD_SCREENSHOTS "/dashboard-phone.png", 390);
    EXPECT_EQ(browser.run("return document.documentElement.scrollWidth <= window.innerWidth"), true);   // no sideways scrolling

    browser.resize(1280, 900);
    browser.open(site + "#/printer/floor2-laser");
    ASSERT_TRUE(browser.waitFor("return document.querySelectorAll('.card').length > 0"));
    EXPECT_EQ(browser.run("return [document.querySelector('main').textContent.includes('<img src=x'),"
                          " document.querySelectorAll('main img').length + (window.kvInjected ? 1 : 0)]"),
              json::array({true, 0}));

    // The printer of 12,000 events opens within a second, its event log 100 rows at a time.
    const std::string logRows = "document.querySelectorAll('section[aria-labelledby=\"events-heading\"] tbody tr').length";
    browser.run("const t0 = performance.now(); new MutationObserver((_, o) => { if (" + logRows + ") {"
                " window.kvOpened = performance.now() - t0; o.disconnect(); } })"
                ".observe(document.getElementById('main'), {childList: true, subtree: true});"
                " location.hash = '#/printer/floor1-laser'");
    ASSERT_TRUE(browser.waitFor("return document.querySelectorAll('svg.chart rect.bar').length >= 29"))
        << browser.run("return document.body.innerText");
    EXPECT_LT(browser.run("return window.kvOpened").get<double>(), 1000);
    EXPECT_EQ(browser.run("document.getElementById('older-events').click(); return " + logRows), 100);
    EXPECT_TRUE(browser.waitFor("return " + logRows + " === 200 && !!document.getElementById('older-events')"));
    // The device status in words; the panel's ready lamp is off while the top cover is open.
    EXPECT_EQ(browser.run("return [document.querySelectorAll('svg.chart polyline').length,"   // toner 1 over the days
                          " document.querySelectorAll('.panel-line').length,"
                          " document.querySelector('.device-status').textContent,"
                          " document.querySelector('.lamp-ready').textContent,"
                          " document.querySelector('.lamp-ready').classList.contains('on')]"),
              json::array({1, 4, "Ready, idle", "Not ready", false}));
    browser.screenshot(DASHBOARD_SCREENSHOTS "/dashboard-printer.png", 1280, 900);
    // At phone width every table fits its card.
    browser.resize(390, 844);
    EXPECT_EQ(browser.run("return [...document.querySelectorAll('.card table')].every("
                          "(t) => t.getBoundingClientRect().width <= t.closest('.card').clientWidth + 1)"), true);

    // 500 printers more: 25 lines and more in the window; a tile shows its printers only, again all.
    SimDaemon many(KVPRTSIMD, {"--copies", "500"});
    std::ofstream fleet(dir.file("fleet.toml"), std::ios::app);
    for (int i = 0; i < 500; ++i)
        fleet << "[[printer]]\nname = \"b" << i << "\"\nuri = \"" << many.uri(std::to_string(i)) << "\"\nlocation = \"Floor " << i % 9 << "\"\n";
    fleet.close();
    ::kill(kvprtd.pid(), SIGHUP);
    browser.resize(1280, 900);
    browser.open(site);
    ASSERT_TRUE(browser.waitFor("return document.getElementById('fleet-summary').textContent === '503 printers' &&"
                                " document.querySelector('[data-tile=\"unknown\"]').hidden"));
    EXPECT_GE(browser.run("return [...document.querySelectorAll('tr[data-printer]')].filter((r) =>"
                          " r.getBoundingClientRect().bottom <= innerHeight).length").get<int>(), 25);
    EXPECT_EQ(browser.run("const tile = document.querySelector('[data-tile=\"down\"]'); tile.click();"
                          " const down = [...document.querySelectorAll('tr[data-printer]')].map((r) => r.dataset.printer);"
                          " const pressed = tile.getAttribute('aria-pressed'); tile.click();"
                          " return [down, pressed, document.querySelectorAll('tr[data-printer]').length > 25]"),
              json::array({json::array({"floor2-laser"}), "true", true}));
    browser.screenshot(DASHBOARD_SCREENSHOTS "/dashboard-fleet.png", 1280, 900);

    // kvprtd gone: within seconds the page says its data is old, and as of when.
    kvprtd.kill();
    EXPECT_TRUE(browser.waitFor("return document.body.dataset.stale === 'true' &&"
                                " document.getElementById('live').textContent.startsWith('kvprtd unreachable: data as of ')"))
        << browser.run("return document.getElementById('live').textContent");
}

#ifdef DASHBOARD_NET_RECORDINGS
// A net:// printer whose supplies' levels are partly no measurement, and one that never answers.
TEST(Dashboard, NetPrintersInChromium) {
    if (::access(CHROMIUM, X_OK) != 0 || ::access(CHROMEDRIVER, X_OK) != 0)
        GTEST_SKIP() << "chromium and chromium-driver are not installed (.ci/install-deps installs them)";
    if (!kvtest::installed("snmpsimd")) GTEST_SKIP() << "Debian's snmpsim is not installed";
    kvtest::TempDir dir;
    std::filesystem::copy_file(DASHBOARD_NET_RECORDINGS "/levels.snmprec", dir.file("hushlevels.snmprec"));
    kvtest::SnmpSim agent({dir.file("hushlevels.snmprec")});
    kvtest::writeText(dir.file("fleet.toml"), "poll_interval_s = 1\n"
        "[[printer]]\nname = \"floor3-mfp\"\nuri = \"" + agent.uri("hushlevels") + "\"\n"
        "[[printer]]\nname = \"floor4-gone\"\nuri = \"" + agent.uri("hushgone") + "\"\n");
    SimDaemon kvprtd = kvtest::startKvprtd(dir);
    const std::string site = "http://127.0.0.1:" + std::to_string(kvprtd.port()) + "/";
    Browser browser(dir.file("profile"));
    ASSERT_TRUE(browser.ready()) << "chromedriver did not start a session";
    browser.resize(1280, 900);
    browser.open(site);
    ASSERT_TRUE(browser.waitFor("return !!document.querySelector('tr[data-printer=\"floor3-mfp\"][data-state=\"up\"]') &&"
                                " !!document.querySelector('tr[data-printer=\"floor4-gone\"][data-state=\"down\"]')"))
        << browser.run("return document.body.innerText");
    EXPECT_EQ(browser.run("return [" + row("floor3-mfp") + ".textContent.includes('some remaining'),"
                          " document.documentElement.outerHTML.includes('hush'), document.getElementById('service').hidden]"),
              json::array({true, false, true}));
    // A fleet file kvprtd refuses is said above the view.
    kvtest::writeText(dir.file("fleet.toml"), "");
    ::kill(kvprtd.pid(), SIGHUP);
    EXPECT_TRUE(browser.waitFor("const s = document.getElementById('service');"
                                " return !s.hidden && s.textContent.includes('refused its fleet file') &&"
                                " s.textContent.includes('lists no printers')"));

    browser.open(site + "#/printer/floor3-mfp");
    ASSERT_TRUE(browser.waitFor("return document.querySelectorAll('.card').length > 0"));
    EXPECT_EQ(browser.run("const text = document.querySelector('main').textContent;"
                          " return [text.includes('Code levels: not available from this printer'), text.includes('Not available: '),"
                          " text.includes('community=***'), text.includes('other (reported 1)'),"
                          " document.documentElement.outerHTML.includes('hush')]"),
              json::array({true, false, true, true, false}));
    std::filesystem::create_directories(DASHBOARD_SCREENSHOTS);
    browser.screenshot(DASHBOARD_SCREENSHOTS "/dashboard-net-printer.png", 1280);
}
#endif

}  // namespace
