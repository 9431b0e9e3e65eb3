#include "sections.h"

#include <algorithm>

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

}  // namespace kvprtd
