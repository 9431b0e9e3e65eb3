// kvprt: a printer-management client for people at a shell, and for scripts
// (--json). docs/kvprt.md describes the commands and the JSON they write.
#include <algorithm>
#include <cstring>
#include <iostream>

#include "command.h"
#include "fleetrun.h"

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

// The message for a command line CLI11 refused: unknown commands named as such.
std::string parseErrorMessage(const CLI::App& app, const CLI::ParseError& e) {
    if (app.get_subcommands().empty()) {
        std::vector<std::string> rest = app.remaining();
        if (!rest.empty() && rest.front().rfind("-", 0) != 0)
            return "unknown command '" + rest.front() + "' (kvprt --help lists the commands)";
        if (dynamic_cast<const CLI::RequiredError*>(&e) && rest.empty())
            return "no command given (kvprt --help lists the commands)";
    }
    return e.what();
}

}  // namespace

int main(int argc, char** argv) {
    InitKVPrtObjDll();
    Context ctx;
    CLI::App app{"kvprt: look after a printer through kvprtobj. The default printer is the embedded simulated "
                 "printer (sim:).",
                 "kvprt"};
    app.fallthrough();   // global options may follow the command
    app.require_subcommand(1);
    FleetOptions fleet;
    addPrinterOptions(app, ctx, fleet);
    app.add_flag("--json", ctx.jsonOutput, "Write JSON (docs/kvprt.md) instead of tables");

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

    const bool jsonOut = wantsJson(argc, argv);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usage(ctx, jsonOut, parseErrorMessage(app, e));
    }
    if (!ctx.action) return usage(ctx, jsonOut, "no command given (kvprt --help lists the commands)");
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
