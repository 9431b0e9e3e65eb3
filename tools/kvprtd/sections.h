// The report's sections in kvprtd: those a poll reads, rendered from its
// records (printer_poll.h), and the others, gathered on a slow schedule.
#pragma once

#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "printer_poll.h"

namespace kvprtd {

// Whether a poll reads the report's section `key`.
bool isPollSection(const std::string& key);
// The JSON of the poll section `key` as kvprt --json report writes it;
// null for a section a poll does not read.
nlohmann::ordered_json pollSectionJson(const PollRecords& records, const std::string& key);
// The report's sections that a poll does not read (identity,
// characteristics, bins, storage, code levels, interpreters, jobs), with
// synchronous calls: each section's JSON text by its key, a failed one
// holding {"error"}.
// Without `exposeJobs`, jobs keep their number and state but not their name
// and user (null), and so do the job-status alerts a poll reads: kvprtd
// neither stores nor serves who printed what.
std::map<std::string, std::string> gatherOtherSections(kvprt::Printer& printer, bool exposeJobs);

}  // namespace kvprtd
