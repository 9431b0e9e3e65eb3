#include "metrics.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "command.h"
#include "monitor.h"
#include "service.h"

namespace kvprtd {
namespace {

// The page-counter types exported: type 3 is never filled.
constexpr size_t kExportedPageTypes[] = {0, 1, 3};

void header(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

template <class Number>
void number(std::string& out, Number value) {
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, ec == std::errc() ? end : text);
}

// A metric of one series without labels: its header and its value.
template <class Number>
void scalar(std::string& out, const char* name, const char* type, const char* help, Number value) {
    header(out, name, type, help);
    out += name;
    out += ' ';
    number(out, value);
    out += '\n';
}

// name{printer="p",key="value"} value
class Line {
public:
    Line(std::string& out, const char* name, std::string_view printer) : m_out(out) {
        out += name;
        out += "{printer=\"";
        out += escapeLabelValue(printer);
        out += '"';
    }
    Line& label(const char* key, std::string_view value) {
        m_out += ',';
        m_out += key;
        m_out += "=\"";
        m_out += escapeLabelValue(value);
        m_out += '"';
        return *this;
    }
    template <class Number>
    void value(Number v) {
        m_out += "} ";
        number(m_out, v);
        m_out += '\n';
    }

private:
    std::string& m_out;
};

// Tags as one label value: ",a,b," (so that =~".*,a,.*" matches a tag), or empty.
std::string tagsLabel(const std::vector<std::string>& tags) {
    std::string out;
    for (const std::string& tag : tags) out += "," + tag;
    return out.empty() ? out : out + ",";
}

}  // namespace

std::string escapeLabelValue(std::string_view value) {
    if (value.find_first_of("\\\"\n") == std::string_view::npos) return std::string(value);
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string renderMetrics(const Service& service) {
    const Monitor& monitor = service.monitor;
    const FleetFileState fleetFile = service.fleetFile();
    const Store::WriteStats db = service.store.writeStats();
    std::string up, info, ratio, days, pages, alerts;
    size_t printers = 0;
    const size_t families = kvprt::alertFamilyCount();
    monitor.forEach([&](const PrinterConfig& config, const Snapshot& s) {
        ++printers;
        Line(info, "kvprt_printer_info", config.name)
            .label("location", config.location)
            .label("tags", tagsLabel(config.tags))
            .value(1);
        if (s.health == Health::Unknown) return;
        Line(up, "kvprt_printer_up", config.name).value(s.health == Health::Up ? 1 : 0);
        // A printer that is down says nothing more: its last alerts and levels would be stale.
        if (s.health != Health::Up) return;
        for (const Supply& supply : s.supplies) {
            std::string id = std::to_string(supply.id);
            if (!std::isnan(supply.ratio)) Line(ratio, "kvprt_supply_level_ratio", config.name).label("supply", id).value(supply.ratio);
            if (!std::isnan(supply.daysLeft))
                Line(days, "kvprt_supply_days_left", config.name).label("supply", id).value(supply.daysLeft);
        }
        if (s.pagesKnown)
            for (size_t type : kExportedPageTypes)
                Line(pages, "kvprt_pages_total", config.name).label("type", std::to_string(type + 1)).value(s.pages[type]);
        for (size_t f = 0; f < families; ++f) {
            if (!((s.familiesKnown >> f) & 1)) continue;
            unsigned count = 0;
            for (const ActiveAlert& a : s.alerts) count += a.family == f;
            Line(alerts, "kvprt_alerts_active", config.name).label("family", kvprt::alertFamilyKey(f)).value(count);
        }
    });

    std::string out;
    out.reserve(up.size() + info.size() + ratio.size() + days.size() + pages.size() + alerts.size() + 4096);
    header(out, "kvprt_printer_up", "gauge", "Whether the printer answered its last poll (1) or not (0).");
    out += up;
    header(out, "kvprt_printer_info", "gauge", "The printer's location and tags (\",a,b,\"), for joins; always 1.");
    out += info;
    header(out, "kvprt_supply_level_ratio", "gauge", "Level of a toner supply, from 0 (empty) to 1 (full).");
    out += ratio;
    header(out, "kvprt_supply_days_left", "gauge",
           "Days until the supply runs out, from a straight line fitted to its levels of the last 14 days.");
    out += days;
    header(out, "kvprt_pages_total", "counter", "Pages counted by the printer's page counter of this type.");
    out += pages;
    header(out, "kvprt_alerts_active", "gauge", "Alerts in the printer's list of this alert family.");
    out += alerts;

    PollStats stats = monitor.stats();
    header(out, "kvprt_poll_duration_seconds", "histogram", "Time from a poll's first request to its last reply.");
    uint64_t cumulative = 0;
    for (size_t i = 0; i < std::size(PollStats::kBuckets); ++i) {
        cumulative += stats.counts[i];
        out += "kvprt_poll_duration_seconds_bucket{le=\"";
        number(out, PollStats::kBuckets[i]);
        out += "\"} ";
        number(out, cumulative);
        out += '\n';
    }
    out += "kvprt_poll_duration_seconds_bucket{le=\"+Inf\"} ";
    number(out, stats.polls);
    out += "\nkvprt_poll_duration_seconds_sum ";
    number(out, stats.seconds);
    out += "\nkvprt_poll_duration_seconds_count ";
    number(out, stats.polls);
    out += '\n';
    scalar(out, "kvprt_poll_cycle_seconds", "gauge",
           "Time the last poll cycle took, from its start until every printer that was up had its outcome.",
           stats.lastCycleSeconds);
    scalar(out, "kvprt_poll_cycles_total", "counter", "Poll cycles finished.", stats.cycles);
    scalar(out, "kvprt_printers_watched", "gauge", "Printers this instance watches (its shard of the fleet).", printers);
    scalar(out, "kvprtd_fleet_reload_success", "gauge",
           "Whether the fleet file was taken when last read (1), or refused and the fleet kept as it was (0).",
           fleetFile.reloadError.empty() ? 1 : 0);
    scalar(out, "kvprtd_fleet_last_reload_success_timestamp_seconds", "gauge",
           "When the fleet in use was read from the fleet file, in seconds since the epoch.", fleetFile.loadedAt / 1000);
    scalar(out, "kvprtd_db_write_errors_total", "counter",
           "Transactions the history database refused (a full disk, a read-only file).", db.failures);
    scalar(out, "kvprtd_db_writes_dropped_total", "counter",
           "Writes given up: samples and reports of refused transactions, events beyond those kept.", db.dropped);
    scalar(out, "kvprtd_db_events_waiting", "gauge", "Events kept while the database refuses them, to be written later.",
           db.eventsWaiting);
    scalar(out, "kvprtd_db_last_commit_timestamp_seconds", "gauge",
           "When the database last took a transaction, in seconds since the epoch (0: none since the start).",
           db.lastCommitMs / 1000);
    return out;
}

}  // namespace kvprtd
