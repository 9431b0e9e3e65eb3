#include "api.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "command.h"
#include "json_text.h"
#include "sections.h"
#include "texts.h"
#include "times.h"

namespace kvprtd {
namespace {

using json = nlohmann::ordered_json;

std::string text(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

json timeOrNull(int64_t ms) { return ms > 0 ? json(rfc3339(ms)) : json(nullptr); }
// A ratio or a number of days, to four decimals (floats would show their binary noise).
json numberOrNull(float value) { return std::isnan(value) ? json(nullptr) : json(std::round(value * 1e4) / 1e4); }

// The supplies; `polled`: as the last poll read them, with whether an unmeasured level has some
// remaining (the database keeps levels, not that).
json suppliesJson(const std::vector<Supply>& supplies, bool polled = false) {
    json list = json::array();
    for (const Supply& s : supplies) {
        json supply = {{"supply", s.id},
                       {"level", s.level},
                       {"levelCount", s.levelCount},
                       {"ratio", numberOrNull(s.ratio)},
                       {"daysLeft", numberOrNull(s.daysLeft)}};
        if (polled) supply["someRemaining"] = s.someRemaining;
        list.push_back(std::move(supply));
    }
    return list;
}

json pagesJson(bool known, const uint32_t* pages) {
    if (!known) return nullptr;
    json j = json::object();
    for (size_t i = 0; i < kPageCountTypes; ++i) j["type" + std::to_string(i + 1)] = pages[i];
    return j;
}

// Why a printer is down in people's words: what its result code means for
// the printer, the code and the library's sentence beside it in the API.
const char* problemWords(long code) {
    switch (code) {
    case BCE_E_TIMEOUT: return "Not answering";
    case BCE_E_CONNECTION_RESET: return "Connection lost";
    case BCE_E_BAD_REPLY: return "Answers that cannot be read";
    case BCE_E_INVALID: return "Refuses the requests";
    case BCE_E_NO_RESOURCES: return "kvprtd is out of open files";
    case BCE_E_BAD_URI: return "Wrong printer address";
    case BCE_E_NOT_SUPPORTED: return "No way to reach this kind of address";
    case BCE_E_NO_HANDLE: return "kvprtd has too many printers open";
    default: return "Not reachable";
    }
}

// "Not reachable: connection refused": the words of the code, and the system's when known.
std::string problemText(const Snapshot& s) {
    std::string text = problemWords(s.errorCode);
    return s.reason.empty() ? text : text + ": " + s.reason;
}

json printerSummary(const PrinterConfig& config, const Snapshot& s) {
    json alerts = json::array();
    for (const ActiveAlert& a : s.alerts)
        alerts.push_back({{"family", kvprt::alertFamilyKey(a.family)},
                          {"id", a.id},
                          {"value", a.value},
                          {"text", kvprt::alertText(a.id, a.value)}});
    return {{"name", config.name},
            {"uri", kvprt::shownUri(config.uri)},
            {"location", config.location},
            {"tags", config.tags},
            {"state", healthWord(s.health)},
            {"since", timeOrNull(s.since)},
            {"lastPoll", timeOrNull(s.lastPoll)},
            {"problem", s.health == Health::Down ? json(problemText(s)) : json(nullptr)},
            {"errorCode", s.errorCode != 0 ? json(s.errorCode) : json(nullptr)},
            {"error", s.error.empty() ? json(nullptr) : json(s.error)},
            {"alerts", alerts},
            {"supplies", suppliesJson(s.supplies, true)},
            {"pages", pagesJson(s.pagesKnown, s.pages)}};
}

json notYet(const std::string& what) {
    return {{"error", kvprt::failureJson(kvprt::Failure("kvprtd", 0, what))}};
}

// The events as an array's text, each named after the printer.
std::string eventsText(std::vector<Event>& events, std::string_view printer) {
    std::vector<std::string> texts;
    texts.reserve(events.size());
    for (Event& e : events) {
        e.printer = std::string(printer);
        texts.push_back(eventJson(e));
    }
    return arrayText(texts);
}

}  // namespace

std::string errorJson(int status, std::string_view message) {
    return text({{"error", {{"status", status}, {"message", message}}}});
}

std::string statusJson(const Service& service, std::string_view version) {
    FleetFileState fleet = service.fleetFile();
    PollStats stats = service.monitor.stats();
    Store::WriteStats db = service.store.writeStats();
    size_t printers = 0, up = 0, down = 0;
    service.monitor.forEach([&](const PrinterConfig&, const Snapshot& s) {
        ++printers;
        up += s.health == Health::Up;
        down += s.health == Health::Down;
    });
    return text({{"version", version},
                 {"startedAt", rfc3339(service.startedAt)},
                 {"fleetFile",
                  {{"path", fleet.path},
                   {"loadedAt", timeOrNull(fleet.loadedAt)},
                   {"reloadError", fleet.reloadError.empty() ? json(nullptr) : json(fleet.reloadError)},
                   {"reloadErrorAt", timeOrNull(fleet.reloadErrorAt)}}},
                 {"database",
                  {{"failing", db.failing},
                   {"writeErrors", db.failures},
                   {"writesDropped", db.dropped},
                   {"eventsWaiting", db.eventsWaiting},
                   {"lastCommit", timeOrNull(db.lastCommitMs)}}},
                 {"shard", {{"index", service.shard.index}, {"count", service.shard.count}}},
                 {"pollIntervalS", service.monitor.pollIntervalS()},
                 {"printers", {{"watched", printers}, {"up", up}, {"down", down}}},
                 {"cycles", {{"finished", stats.cycles}, {"lastSeconds", stats.lastCycleSeconds}}}});
}

std::string printersJson(const Service& service) {
    json list = json::array();
    service.monitor.forEach([&](const PrinterConfig& config, const Snapshot& s) { list.push_back(printerSummary(config, s)); });
    return text({{"time", rfc3339(nowMs())}, {"printers", std::move(list)}});
}

std::optional<std::string> printerJson(const Service& service, std::string_view name) {
    PrinterConfig config;
    Snapshot s;
    int64_t id = 0;
    if (!service.monitor.with(name, [&](const PrinterConfig& c, int64_t dbId, const Snapshot& snap) {
            config = c;
            id = dbId;
            s = snap;
        }))
        return std::nullopt;
    std::optional<Report> report = service.store.report(id);
    const std::map<std::string, std::string> none;
    const std::map<std::string, std::string>& others = report ? report->sections : none;
    ObjectText out;
    for (const kvprt::Section* section : kvprt::reportSections()) {
        const std::string& key = section->key;
        const bool polled = isPollSection(key);
        auto stored = polled ? others.end() : others.find(key);
        if (polled && s.polled)
            out.add(key, pollSectionJson(*s.polled, key));
        else if (stored != others.end())
            out.addText(key, stored->second);
        else
            out.add(key, notYet("not read yet: the printer has not answered since kvprtd watches it"));
    }
    out.add("poll", {{"printer", config.name},
                     {"state", healthWord(s.health)},
                     {"time", timeOrNull(s.lastPoll)},
                     {"reportTime", timeOrNull(report ? report->time : 0)},
                     {"error", s.error.empty() ? json(nullptr) : json(s.error)}});
    return out.done();
}

std::optional<std::string> historyJson(const Service& service, std::string_view name, int64_t since, int64_t until) {
    int64_t id = 0;
    if (!service.monitor.with(name, [&](const PrinterConfig&, int64_t dbId, const Snapshot&) { id = dbId; }))
        return std::nullopt;
    History h = service.store.history(id, since, until, kHistoryLimit);
    json samples = json::array();
    for (const Sample& s : h.samples)
        samples.push_back({{"time", rfc3339(s.time)}, {"pages", pagesJson(s.pagesKnown, s.pages)}, {"supplies", suppliesJson(s.supplies)}});
    return ObjectText()
        .add("printer", name)
        .add("since", rfc3339(since))
        .add("until", rfc3339(until))
        .add("truncated", h.truncated)
        .add("samples", samples)
        .addText("events", eventsText(h.events, name))
        .done();
}

std::optional<std::string> eventsJson(const Service& service, std::string_view name, uint64_t before, size_t limit) {
    int64_t id = 0;
    if (!service.monitor.with(name, [&](const PrinterConfig&, int64_t dbId, const Snapshot&) { id = dbId; }))
        return std::nullopt;
    EventPage page = service.store.events(id, before, limit);
    return ObjectText().add("printer", name).addText("events", eventsText(page.events, name)).add("more", page.more).done();
}

std::optional<std::string> daysJson(const Service& service, std::string_view name, int count, int64_t now) {
    int64_t id = 0;
    if (!service.monitor.with(name, [&](const PrinterConfig&, int64_t dbId, const Snapshot&) { id = dbId; }))
        return std::nullopt;
    const int64_t today = now / kDayMs, first = today - count + 1;
    // The day before the first one too: the pages printed on the first day need its counts.
    std::vector<Day> stored = service.store.days(id, (first - 1) * kDayMs, now);
    auto next = stored.begin();
    const Day* before = nullptr;
    json days = json::array();
    for (int64_t day = first - 1; day <= today; ++day) {
        const Day* d = next != stored.end() && next->day == day ? &*next++ : nullptr;
        if (day >= first) {
            json printed = nullptr;
            // Pages printed: the day's last counts less the day before's; a counter
            // that went back (reset) counts from 0.
            if (d && d->pagesKnown && before && before->pagesKnown) {
                printed = json::object();
                for (size_t i = 0; i < kPageCountTypes; ++i)
                    printed["type" + std::to_string(i + 1)] =
                        d->pages[i] >= before->pages[i] ? d->pages[i] - before->pages[i] : d->pages[i];
            }
            days.push_back({{"date", rfc3339(day * kDayMs).substr(0, 10)},
                            {"pages", d ? pagesJson(d->pagesKnown, d->pages) : json(nullptr)},
                            {"printed", printed},
                            {"supplies", d ? suppliesJson(d->supplies) : json::array()}});
        }
        before = d;
    }
    return text({{"printer", name}, {"days", std::move(days)}});
}

}  // namespace kvprtd
