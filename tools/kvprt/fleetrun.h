// kvprt on many printers at once: --fleet FILE (kvprtd's fleet file) or
// --printer given more than once. The command runs once per printer, each
// in a kvprt of its own (this program again, given that printer), at most
// --jobs at once: a child process per printer keeps each printer's output,
// state and failure apart, with no change to the commands. The outputs are
// shown printer by printer in the fleet's order (or, with --json, as one
// array of {printer, ok, result | error}), then a summary line.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "command.h"

namespace kvprt {

struct FleetOptions {
    std::string file;                    // --fleet
    std::vector<std::string> printers;   // --printer, each time given
    unsigned jobs = 8;                   // --jobs
    bool several() const { return !file.empty() || printers.size() > 1; }
};

constexpr unsigned kMaxJobs = 256;
// What one printer's command may write on each of its outputs.
constexpr size_t kMaxChildOutputBytes = 16u << 20;

// Adds --printer (the last one given is ctx.uri), --fleet and --jobs.
void addPrinterOptions(CLI::App& app, Context& ctx, FleetOptions& options, const std::string& group);
// Runs the command of `argv` on every printer of `options`; the exit status:
// 0 when every printer succeeded, 1 when any failed, 130 when interrupted.
// Throws CLI::ValidationError for a command that a fleet cannot run.
int runFleet(const CLI::App& app, const FleetOptions& options, int argc, char** argv);

}  // namespace kvprt
