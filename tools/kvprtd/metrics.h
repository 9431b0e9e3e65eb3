// GET /metrics: the Prometheus text exposition format (version 0.0.4).
//
//   kvprt_printer_up{printer}                    1 or 0 (printers polled at least once)
//   kvprt_printer_info{printer,location,tags}    1, for every printer watched
// A printer that is down has only these two: the series below are of printers that are up.
//   kvprt_supply_level_ratio{printer,supply}     0 to 1
//   kvprt_supply_days_left{printer,supply}       the forecast (outcome.h), where there is one
//   kvprt_pages_total{printer,type}              page counters, types 1, 2 and 4
//   kvprt_alerts_active{printer,family}          alerts in each family's list
//   kvprt_poll_duration_seconds                  histogram of the polls' times
//   kvprt_poll_cycle_seconds, kvprt_poll_cycles_total, kvprt_printers_watched
//   kvprtd_fleet_reload_success                  1, or 0 when the last SIGHUP's fleet file was refused
//   kvprtd_fleet_last_reload_success_timestamp_seconds   when the fleet in use was read
//   kvprtd_db_write_errors_total                 transactions the database refused
//   kvprtd_db_writes_dropped_total               writes given up
//   kvprtd_db_events_waiting                     events kept until the database takes them
//   kvprtd_db_last_commit_timestamp_seconds      the last transaction it took
#pragma once

#include <string>
#include <string_view>

namespace kvprtd {

struct Service;

std::string renderMetrics(const Service& service);
// A label value as the format writes it: backslash, double quote and line feed escaped.
std::string escapeLabelValue(std::string_view value);

}  // namespace kvprtd
