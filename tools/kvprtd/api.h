// The JSON of the HTTP API (docs: README, "kvprtd").
//
//   GET /api/v1/status                    this instance: version, fleet file, shard, poll cycle
//   GET /api/v1/printers                  every printer: state, location, tags, alerts in words,
//                                         supplies with days left, page counts
//   GET /api/v1/printers/NAME             the printer's report, in the schema of kvprt --json
//                                         report, with "poll": its state and times
//   GET /api/v1/printers/NAME/history?since=&until=
//                                         samples and events (times: seconds since the epoch or RFC 3339)
//   GET /api/v1/printers/NAME/events?limit=100&before=ID
//                                         its events, newest first, a page at a time: at most
//                                         `limit` (1 to 1000), older than the event `before`
//   GET /api/v1/printers/NAME/days?days=30
//                                         each day's last page counts and supply levels, and the
//                                         pages printed that day (days: 1 to 366, ending today, UTC)
//   GET /api/v1/events                    the event stream (eventhub.h)
//   GET /                                 the dashboard (web.h)
//
// Errors: {"error": {"status": N, "message": "..."}} with the HTTP status N.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "service.h"

namespace kvprtd {

// The history's default span and its limit of samples and of events.
constexpr int64_t kDefaultHistoryMs = 7 * 86400000LL;
constexpr size_t kHistoryLimit = 10000;
// The events of a page: the default and the most.
constexpr size_t kDefaultEventPage = 100;
constexpr size_t kMaxEventPage = 1000;
// The days of the daily view: the default and the most.
constexpr int kDefaultDays = 30;
constexpr int kMaxDays = 366;

std::string statusJson(const Service& service, std::string_view version);
std::string printersJson(const Service& service);
// Nothing for a printer not in the fleet.
std::optional<std::string> printerJson(const Service& service, std::string_view name);
std::optional<std::string> historyJson(const Service& service, std::string_view name, int64_t since, int64_t until);
// The printer's events older than the event `before` (0: the newest), newest first.
std::optional<std::string> eventsJson(const Service& service, std::string_view name, uint64_t before, size_t limit);
// The `count` days up to the day of `now` (ms).
std::optional<std::string> daysJson(const Service& service, std::string_view name, int count, int64_t now);
std::string errorJson(int status, std::string_view message);

}  // namespace kvprtd
