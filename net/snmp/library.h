// net-snmp's process-wide set-up, done once before the first session or
// parse: no MIB files loaded (every OID is numeric), no configuration files
// read (neither /etc/snmp nor the user's ~/.snmp), no persistent files read
// or written, no SIGALRM timers, and its log messages kept in memory instead
// of on standard error.
//
// net-snmp is not thread-safe: everything that calls it runs on the
// backend's loop thread (the fuzz harness on its own single thread).
#pragma once

#include <string>
#include <vector>

namespace kvnet::snmp {

// Initialises net-snmp on the first call; later calls do nothing.
void initLibrary();

// The last lines net-snmp logged, oldest first (at most kLogLines, each cut
// to kLogLineBytes). With KVPRTOBJ_TRACE set they also go to standard error.
std::vector<std::string> recentLog();
constexpr size_t kLogLines = 64;
constexpr size_t kLogLineBytes = 256;

}  // namespace kvnet::snmp
