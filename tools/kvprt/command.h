// What every command of kvprt shares: the global options, the printer
// (opened on first use), and sections. A section is one part of a printer's
// state: it reads the printer's replies into typed records once, and renders
// both its JSON value (the --json schema, docs/kvprt.md) and its text for
// people from them, so both outputs show the same data.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "output.h"
#include "session.h"

namespace kvprt {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // an operation failed (the printer, a file, Quick Setup)
constexpr int kExitUsage = 2;    // the command line is wrong

using Renderer = std::function<void(const json&, std::ostream&)>;

class Context {
public:
    std::string uri = "sim:";
    bool jsonOutput = false;   // --json
    bool jsonLines = false;    // the command writes JSON Lines (watch): an error object takes one line too
    // Set by the command that the command line chose; run after parsing.
    std::function<int()> action;

    // The printer of --printer, opened on first use.
    Printer& printer();
    // Writes `data` as JSON, or renders it for people (with every control
    // character but the line breaks escaped, whatever the renderer missed).
    void emit(const json& data, const Renderer& render) const;

private:
    std::unique_ptr<Printer> m_printer;
};

// What a section gathered: its JSON and its text, rendered from one set of records.
struct Part {
    json data;
    std::function<void(std::ostream&)> text;
};
// The part of typed `records`: JSON by toJson(records), text by render(records, out).
template <class T, class ToJson, class Render>
Part partOf(T records, ToJson toJson, Render render) {
    json data = toJson(records);
    return {std::move(data), [records = std::move(records), render](std::ostream& out) { render(records, out); }};
}

struct Section {
    std::string key;                        // its key in the JSON object
    std::string title;                      // its heading for people
    std::function<Part(Printer&)> gather;   // throws Failure
};

// Writes "kvprt: MESSAGE" on standard error, control characters escaped.
void warn(const std::string& message);
// The JSON object of a failure: {"operation", "code", "text", "message"}.
json failureJson(const Failure& failure);
// A part that the printer does not carry (its operation failed with -3: no
// standard protocol of a real printer answers it, or the printer does not
// know the request) is not an error: its JSON is {"unavailable": failure}
// and people read kNotAvailable.
constexpr const char* kNotAvailable = "not available from this printer";
json unavailableJson(const Failure& failure);
bool isUnavailable(const json& value);
// For a part of a section that failed while the rest goes on: writes the
// message to standard error, makes the command's exit status kExitFailed,
// and returns the failure's JSON object.
json partialFailure(const Failure& failure);
// Whether partialFailure writes its message (default yes). A host that keeps
// the failures in the JSON only turns it off. Both are safe from any thread.
void setPartialFailureMessages(bool toStandardError);
// Gathers the sections into one object under their keys. A section that
// fails holds {"error": ...} instead, its message goes to standard error,
// and the result is kExitFailed; the others are still gathered. A section
// the printer does not carry holds {"unavailable": ...} and is no failure.
int runSections(Context& ctx, const std::vector<const Section*>& sections, bool headings);
// Registers a command that runs `sections`, with headings when there are several
// (unless one of its own subcommands, added later, was chosen).
CLI::App* addSectionCommand(CLI::App& app, Context& ctx, const std::string& name, const std::string& description,
                            std::vector<const Section*> sections);

// The sections, by family.
extern const Section kIdentitySection, kDeviceCharsSection, kCodeLevelsSection;            // identity.cpp
extern const Section kInputBinsSection, kOutputBinsSection, kFormNamesSection, kStorageSection,
    kInterpretersSection, kSymbolSetsSection;                                               // devchars.cpp
extern const Section kDeviceStatusSection, kAlertsSection;                                  // status.cpp
extern const Section kTonerSection, kPageCountsSection;                                     // supplies.cpp
extern const Section kJobsSection;                                                          // jobs.cpp
extern const Section kPanelSection;                                                         // panel.cpp

// The sections of the report, in its order (report.cpp).
const std::vector<const Section*>& reportSections();
// The alerts section's families (status.cpp; read with readAlertFamily,
// records.h): their number and the key of family `i`.
size_t alertFamilyCount();
const char* alertFamilyKey(size_t i);
// An announced alert read with the operation of its family (watch.cpp).
// Without `personal`, what names a person or a document (a job's name, user
// and host) is left out of its data and its line.
struct AlertReading {
    json event;                         // {"alertId", "family", "familyName", "data"}, with "error"
                                        // when its data could not be read
    const char* familyName = nullptr;   // the family's key; none for a family kvprt does not decode
    std::string line;                   // its summary in words
    bool ok = false;                    // its data was read
};
AlertReading readAlert(Printer& printer, unsigned short id, unsigned long family, bool personal = true);

// The commands, by family.
void addIdentityCommands(CLI::App& app, Context& ctx);   // info, levels
void addReportCommand(CLI::App& app, Context& ctx);      // report
void addDevcharsCommands(CLI::App& app, Context& ctx);   // bins, storage, interpreters, fonts, symbolsets
void addStatusCommands(CLI::App& app, Context& ctx);     // status
void addWatchCommand(CLI::App& app, Context& ctx);       // watch
void addSuppliesCommands(CLI::App& app, Context& ctx);   // toner, pagecounts
void addJobsCommands(CLI::App& app, Context& ctx);       // jobs
void addPanelCommands(CLI::App& app, Context& ctx);      // panel
void addControlCommands(CLI::App& app, Context& ctx);    // var, ports, loopback, offline, online, reset
void addQuickSetupCommands(CLI::App& app, Context& ctx); // qs
void addStorageCommands(CLI::App& app, Context& ctx);    // storage ls, format, rm, cp (after devchars)
void addSnapshotCommand(CLI::App& app, Context& ctx);    // snapshot
void addDiscoverCommand(CLI::App& app, Context& ctx);    // discover (discover.h)

}  // namespace kvprt
