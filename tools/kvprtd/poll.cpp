#include "poll.h"

#include <algorithm>
#include <cmath>

#include "command.h"

namespace kvprtd {
namespace {

using json = nlohmann::ordered_json;

// The sections a poll gathers besides the alerts, in the report's order of keys.
const kvprt::Section* const kPollSections[] = {&kvprt::kDeviceStatusSection, &kvprt::kPanelSection,
                                               &kvprt::kTonerSection, &kvprt::kPageCountsSection};
enum : size_t { kDeviceStatus, kPanel, kToner, kPageCounts };

// A number of a section's JSON object (0 when it is missing).
uint32_t number(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) return 0;
    int64_t value = it->get<int64_t>();
    return value >= 0 && value <= UINT32_MAX ? static_cast<uint32_t>(value) : 0;
}

// The failure an alert family's part holds, as kvprt's alerts section writes it.
long familyCode(const json& value) {
    if (value.is_array()) return 0;
    long code = value.contains("error") ? value["error"].value("code", 0L) : 0L;
    return code != 0 ? code : long{BCE_E_INVALID};
}

bool polled(const kvprt::Section* s) {
    return s == &kvprt::kAlertsSection || std::find(std::begin(kPollSections), std::end(kPollSections), s) !=
                                              std::end(kPollSections);
}

}  // namespace

bool isPollSection(const std::string& key) {
    for (const kvprt::Section* s : kvprt::reportSections())
        if (s->key == key) return polled(s);
    return false;
}

std::string gatherOtherSections(kvprt::Printer& printer) {
    json sections = json::object();
    for (const kvprt::Section* s : kvprt::reportSections()) {
        if (polled(s)) continue;
        try {
            sections[s->key] = s->gather(printer);
        } catch (const kvprt::Failure& f) {
            sections[s->key] = {{"error", kvprt::failureJson(f)}};
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            sections[s->key] = {{"error", kvprt::failureJson(kvprt::Failure(s->key, 0, e.what()))}};
        }
    }
    return sections.dump(-1, ' ', false, json::error_handler_t::replace);
}

Poll::Poll(kvprt::Printer& printer, std::vector<AnnouncedAlert> announced)
    : m_printer(printer),
      m_sections(std::size(kPollSections)),
      m_families(kvprt::alertFamilyCount()),
      m_announced(std::move(announced)),
      m_alertReads(m_announced.size()),
      m_batch(printer.obj()) {
    for (size_t i = 0; i < std::size(kPollSections); ++i) add(m_sections[i], kPollSections[i]->gather);
    for (size_t i = 0; i < m_families.size(); ++i)
        add(m_families[i], [i](kvprt::Printer& p) {
            json value = kvprt::gatherAlertFamily(p, i);
            if (long rc = familyCode(value)) throw kvprt::Failure(value["error"].value("operation", "alerts"), rc);
            return value;
        });
    for (size_t i = 0; i < m_announced.size(); ++i)
        add(m_alertReads[i], [a = m_announced[i]](kvprt::Printer& p) {
            std::string line;
            json event = kvprt::readAlert(p, a.id, a.family, &line);
            event["line"] = line;
            return event;
        });
}

void Poll::add(Part& part, std::function<json(kvprt::Printer&)> gather) {
    unsigned short handle = m_printer.handle();
    const std::string* uri = &m_printer.uri();
    m_batch.add([&part, gather = std::move(gather), handle, uri](KVPrtObj& obj) -> long {
        // An operation may run several times; the last run counts.
        kvprt::Printer view(handle, obj, *uri);
        try {
            part.value = gather(view);
            part.error.clear();
            part.rc = 0;
        } catch (const kvprt::Failure& f) {
            part.value = {{"error", kvprt::failureJson(f)}};
            part.error = f.message();
            part.rc = f.code() != 0 ? f.code() : long{BCE_E_INVALID};
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {   // a reply kvprt's JSON code could not take
            part.value = {{"error", kvprt::failureJson(kvprt::Failure("poll", 0, e.what()))}};
            part.error = e.what();
            part.rc = BCE_E_BAD_REPLY;
        }
        return part.rc;
    });
}

void Poll::start(std::function<void()> done) {
    m_started = std::chrono::steady_clock::now();
    m_batch.start([this, done = std::move(done)] {
        auto finished = std::chrono::steady_clock::now();
        // The parts' JSON trees weigh several times the compact outcome and
        // would otherwise wait for the scheduler with thousands of others.
        m_result = compact();
        m_result.seconds = std::chrono::duration<double>(finished - m_started).count();
        m_sections.clear();
        m_families.clear();
        m_alertReads.clear();
        m_sections.shrink_to_fit();
        m_families.shrink_to_fit();
        m_alertReads.shrink_to_fit();
        done();
    });
}

PollResult Poll::compact() const {
    PollResult r;
    const Part& status = m_sections[kDeviceStatus];
    r.health = status.rc == 0 ? Health::Up : Health::Down;
    r.error = status.error;

    json sections = json::object();
    json families = json::object();
    for (size_t i = 0; i < m_families.size(); ++i) {
        const Part& f = m_families[i];
        families[kvprt::alertFamilyKey(i)] = f.value;
        if (f.rc != 0) continue;
        r.familiesKnown |= static_cast<uint16_t>(1u << i);
        for (const json& a : f.value)
            r.alerts.push_back({static_cast<uint8_t>(i), static_cast<uint16_t>(number(a, "id")),
                                static_cast<uint16_t>(number(a, "value"))});
    }
    for (const kvprt::Section* s : kvprt::reportSections()) {
        if (s == &kvprt::kAlertsSection) sections[s->key] = families;
        for (size_t i = 0; i < std::size(kPollSections); ++i)
            if (s == kPollSections[i]) sections[s->key] = m_sections[i].value;
    }
    r.json = sections.dump(-1, ' ', false, json::error_handler_t::replace);

    if (const Part& toner = m_sections[kToner]; toner.rc == 0) {
        r.suppliesKnown = true;
        for (const json& t : toner.value) {
            Supply s;
            s.id = static_cast<uint8_t>(number(t, "supply"));
            s.level = static_cast<uint8_t>(number(t, "level"));
            s.levelCount = static_cast<uint8_t>(number(t, "levelCount"));
            s.ratio = levelRatio(s.level, s.levelCount);
            r.supplies.push_back(s);
        }
    }
    if (const Part& counts = m_sections[kPageCounts]; counts.rc == 0) {
        r.pagesKnown = true;
        for (size_t i = 0; i < kPageCountTypes; ++i)
            r.pages[i] = number(counts.value, ("type" + std::to_string(i + 1)).c_str());
    }
    for (size_t i = 0; i < m_announced.size(); ++i) {
        const Part& read = m_alertReads[i];
        AlertRead a{m_announced[i], {}, read.error, read.rc == 0};
        if (read.rc == 0) {
            const json& name = read.value["familyName"];
            a.familyName = name.is_string() ? name.get<std::string>() : "";
            a.line = read.value["line"].get<std::string>();
            a.ok = !read.value.contains("error");
        }
        r.announced.push_back(std::move(a));
    }
    return r;
}

}  // namespace kvprtd
