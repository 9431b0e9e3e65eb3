// kvprt: a printer-management client for people at a shell, and for scripts
// (--json). docs/kvprt.md describes the commands and the JSON they write.
#include <algorithm>
#include <cstring>
#include <iostream>

#include "command.h"
#include "fleetrun.h"
#include "program.h"

using namespace kvprt;

namespace {

bool wantsJson(int argc, char** argv) {
    return std::any_of(argv + 1, argv + argc, [](const char* a) { return std::strcmp(a, "--json") == 0; });
}

// Writes an error: the message on standard error and, for --json, the error
// object on standard output (on one line where the command writes JSON Lines).
int fail(const Context& ctx, bool jsonOut, const json& error, int status) {
    warn(error["message"].get<std::string>());
    if (jsonOut) std::cout << jsonText(json{{"error", error}}, ctx.jsonLines ? -1 : 2) << '\n';
    return status;
}

int usage(const Context& ctx, bool jsonOut, const std::string& message) {
    return fail(ctx, jsonOut,
                {{"operation", "command line"}, {"code", nullptr}, {"text", nullptr}, {"message", message}},
                kExitUsage);
}

constexpr const char kGlobalOptions[] = "Global options";

// Every command's help lists the global options too: they may follow the command.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_footer(const CLI::App* app) const override {
        const CLI::App* root = app;
        while (root->get_parent() != nullptr) root = root->get_parent();
        std::string footer = CLI::Formatter::make_footer(app);
        if (root == app) return footer;
        auto globals = root->get_options([](const CLI::Option* o) { return o->get_group() == kGlobalOptions; });
        return make_group(kGlobalOptions, false, globals).substr(1) + "\n" + footer;   // without its blank line
    }
};

}  // namespace

int main(int argc, char** argv) {
    InitKVPrtObjDll();
    Context ctx;
    CLI::App app{"kvprt: look after a printer through kvprtobj. The default printer is the embedded simulated "
                 "printer (sim:).",
                 "kvprt"};
    app.formatter(std::make_shared<HelpFormatter>());   // before the commands, which take it over
    app.fallthrough();                                  // global options may follow the command
    app.require_subcommand(1);
    app.set_version_flag("--version", [] { return kvprogram::versionText("kvprt"); });
    FleetOptions fleet;
    addPrinterOptions(app, ctx, fleet, kGlobalOptions);
    app.add_flag("--json", ctx.jsonOutput, "Write JSON (docs/kvprt.md) instead of tables")->group(kGlobalOptions);

    addReportCommand(app, ctx);
    addIdentityCommands(app, ctx);
    addDevcharsCommands(app, ctx);
    addStatusCommands(app, ctx);
    addWatchCommand(app, ctx);
    addSuppliesCommands(app, ctx);
    addJobsCommands(app, ctx);
    addPanelCommands(app, ctx);
    addControlCommands(app, ctx);
    addQuickSetupCommands(app, ctx);
    addStorageCommands(app, ctx);
    addSnapshotCommand(app, ctx);
    addDiscoverCommand(app, ctx);

    const bool jsonOut = wantsJson(argc, argv);
    if (auto status = kvprogram::parseCommandLine(app, argc, argv,
                                                  [&](const std::string& message) { usage(ctx, jsonOut, message); }))
        return *status;
    if (!ctx.action) return usage(ctx, jsonOut, "kvprt needs a command (kvprt --help lists them)");
    if (fleet.several()) ctx.action = [&] { return runFleet(app, fleet, argc, argv); };

    try {
        return ctx.action();
    } catch (const Failure& f) {
        return fail(ctx, jsonOut, failureJson(f), kExitFailed);
    } catch (const CLI::Error& e) {
        return usage(ctx, jsonOut, e.what());
    } catch (const std::exception& e) {   // memory, say: said and failed, not aborted
        return fail(ctx, jsonOut, {{"operation", "kvprt"}, {"code", nullptr}, {"text", nullptr}, {"message", e.what()}},
                    kExitFailed);
    }
}
