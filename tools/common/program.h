// What the project's programs (kvprt, kvprtsimd, kvprtd) share at a shell:
// their exit statuses, the text of --version, and addresses as they write them.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

namespace kvprogram {

// The project's version (CMake's project version).
extern const char* const kVersion;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // the printer, a file or the operation failed
constexpr int kExitUsage = 2;    // the command line is wrong

// "PROGRAM VERSION" (the project's version), then a line "NAME VERSION from
// PATH" for each of the project's shared libraries that this process has
// loaded, its version read from the version note of the loaded image. No
// line break at the end.
std::string versionText(const std::string& program);

// Parses the command line. Returns the exit status when the program is to
// end at once: kExitOk after --help or --version (written on standard
// output); kExitUsage after a usage error, which `report` is given to say,
// naming the word at fault and the command it was given to ("'frob' is not
// a command of kvprt qs (kvprt qs --help lists them)"). Otherwise nothing.
std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv,
                                    const std::function<void(const std::string&)>& report);

// HOST:PORT as typed back to a person: an IPv6 host in brackets ([::1]:9180).
std::string hostPortText(const std::string& host, unsigned port);

}  // namespace kvprogram
