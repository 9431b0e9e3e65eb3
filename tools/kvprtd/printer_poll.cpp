#include "printer_poll.h"

#include <algorithm>
#include <cmath>

#include "command.h"

namespace kvprtd {
namespace {

using json = nlohmann::ordered_json;

// The sections a poll reads, in the report's order of keys.
const kvprt::Section* const kPollSections[] = {&kvprt::kDeviceStatusSection, &kvprt::kAlertsSection,
                                               &kvprt::kPanelSection, &kvprt::kTonerSection,
                                               &kvprt::kPageCountsSection};

bool polled(const kvprt::Section* s) {
    return std::find(std::begin(kPollSections), std::end(kPollSections), s) != std::end(kPollSections);
}

// The record's level step (bits 0-6) and flag (bit 7).
constexpr uint8_t kLevelStep = 0x7F, kLevelFlag = 0x80;

}  // namespace

bool isPollSection(const std::string& key) {
    for (const kvprt::Section* s : kvprt::reportSections())
        if (s->key == key) return polled(s);
    return false;
}

json pollSectionJson(const PollRecords& r, const std::string& key) {
    using kvprt::readingJson;
    if (key == kvprt::kDeviceStatusSection.key) return readingJson(r.deviceStatus, kvprt::deviceStatusJson);
    if (key == kvprt::kAlertsSection.key) return kvprt::alertFamiliesJson(r.families);
    if (key == kvprt::kPanelSection.key)
        return readingJson(r.panel, [](const kvprt::PanelRecord& p) { return kvprt::panelJson(p); });
    if (key == kvprt::kTonerSection.key) return readingJson(r.toner, kvprt::tonerJson);
    if (key == kvprt::kPageCountsSection.key) return readingJson(r.pageCounts, kvprt::pageCountsJson);
    return nullptr;
}

std::map<std::string, std::string> gatherOtherSections(kvprt::Printer& printer, bool exposeJobs) {
    std::map<std::string, std::string> sections;
    for (const kvprt::Section* s : kvprt::reportSections()) {
        if (polled(s)) continue;
        json data;
        try {
            data = s->gather(printer).data;
        } catch (const kvprt::Failure& f) {
            data = kvprt::failedPartJson(f);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            data = {{"error", kvprt::failureJson(kvprt::Failure(s->key, 0, e.what()))}};
        }
        if (s == &kvprt::kJobsSection && !exposeJobs && data.is_array())
            for (json& job : data) job["name"] = job["user"] = nullptr;
        sections[s->key] = kvprt::jsonText(data, -1);
    }
    return sections;
}

Poll::Poll(kvprt::Printer& printer, std::vector<AnnouncedAlert> announced, bool exposeJobs)
    : m_printer(printer),
      m_records(std::make_shared<PollRecords>()),
      m_announced(std::move(announced)),
      m_alertReads(m_announced.size()),
      m_batch(printer.obj()) {
    PollRecords& r = *m_records;
    add(r.deviceStatus, kvprt::readDeviceStatus);
    r.families.resize(kvprt::alertFamilyCount());
    for (size_t i = 0; i < r.families.size(); ++i)
        add(r.families[i], [i](KVPrtObj& obj) { return kvprt::readAlertFamily(obj, i); });
    add(r.panel, kvprt::readPanel);
    add(r.toner, kvprt::readToner);
    add(r.pageCounts, kvprt::readPageCounts);

    unsigned short handle = m_printer.handle();
    const std::string* uri = &m_printer.uri();
    for (size_t i = 0; i < m_announced.size(); ++i)
        m_batch.add([read = &m_alertReads[i], a = m_announced[i], handle, uri, exposeJobs](KVPrtObj& obj) -> long {
            kvprt::Printer view(handle, obj, *uri);
            try {
                kvprt::AlertReading alert = kvprt::readAlert(view, a.id, a.family, exposeJobs);
                *read = {a, alert.familyName ? alert.familyName : "", std::move(alert.line), alert.ok};
            } catch (const std::bad_alloc&) {
                throw;
            } catch (const std::exception& e) {   // data kvprt's alert code could not take
                *read = {a, "", e.what(), false};
            }
            return 0;
        });
}

template <class T, class Read>
void Poll::add(kvprt::Reading<T>& into, Read read) {
    // An operation may run several times; the last run counts.
    m_batch.add([&into, read](KVPrtObj& obj) -> long {
        into = read(obj);
        return into.rc;
    });
}

void Poll::start(std::function<void()> done) {
    m_started = std::chrono::steady_clock::now();
    m_batch.start([this, done = std::move(done)] {
        auto finished = std::chrono::steady_clock::now();
        m_result = compact();
        m_result.seconds = std::chrono::duration<double>(finished - m_started).count();
        done();
    });
}

PollResult Poll::compact() {
    PollResult r;
    const PollRecords& records = *m_records;
    r.health = records.deviceStatus.ok() ? Health::Up : Health::Down;
    if (!records.deviceStatus.ok()) {
        r.error = kvprt::Failure(records.deviceStatus.operation, records.deviceStatus.rc).message();
        r.errorCode = records.deviceStatus.rc;
        r.reason = kvprt::lastFailure(m_printer.handle());
    }

    for (size_t i = 0; i < records.families.size(); ++i) {
        if (!records.families[i].ok()) continue;
        r.familiesKnown |= static_cast<uint16_t>(1u << i);
        for (const kvprt::AlertRecord& a : records.families[i].value)
            r.alerts.push_back({static_cast<uint8_t>(i), a.id, a.value});
    }
    if (records.toner.ok()) {
        r.suppliesKnown = true;
        for (const KvTonerPrediction::TonerInfo& t : records.toner.value) {
            Supply s;
            s.id = t.bySupplyId;
            s.level = t.byLevel & kLevelStep;
            s.levelCount = t.byLevelCount;
            s.ratio = levelRatio(s.level, s.levelCount);
            s.someRemaining = std::isnan(s.ratio) && (t.byLevel & kLevelFlag) != 0;
            r.supplies.push_back(s);
        }
    }
    if (const auto& counts = records.pageCounts; counts.ok()) {
        r.pagesKnown = true;
        const uint32_t pages[] = {counts.value.dwPageCountType1, counts.value.dwPageCountType2,
                                  counts.value.dwPageCountType3, counts.value.dwPageCountType4};
        std::copy(std::begin(pages), std::end(pages), r.pages);
    }
    r.announced = std::move(m_alertReads);
    r.records = std::move(m_records);
    return r;
}

}  // namespace kvprtd
