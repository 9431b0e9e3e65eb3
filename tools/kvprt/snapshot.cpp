// snapshot: the printer's present state written as a simulator profile, so
// that sim:FILE or kvprtsimd --profile FILE serves it again.
#include <iostream>
#include <string>

#include "command.h"
#include "file_write.h"
#include "interrupt.h"

namespace kvprt {
namespace {

constexpr const char kStandardOutput[] = "-";

// The URI as it may be shown: without the secrets it may hold.
std::string shownUri(const std::string& uri) {
    std::string shown(BceRedactUri(uri.c_str(), nullptr, 0) + 1, '\0');
    shown.resize(BceRedactUri(uri.c_str(), shown.data(), shown.size()));
    return shown;
}

int snapshot(Context& ctx, const std::string& file) {
    catchInterrupts();   // before the printer is opened, so that no thread of ours takes the signals
    Printer& printer = ctx.printer();
    const std::string uri = shownUri(printer.uri());
    std::string profile;
    if (long rc = BceSnapshotProfile(printer.handle(), &profile); rc != 0)
        throw Failure("BceSnapshotProfile", rc, "the printer at " + uri + " cannot give its state as a profile");
    if (file == kStandardOutput) {
        if (!(std::cout << profile << std::flush)) throw Failure("snapshot", 0, "cannot write to standard output");
    } else {
        // A first signal waits for the file to be whole (or gone), never leaving half of it.
        onInterrupt([] {});
        std::string error;
        const bool written = replaceFile(file, profile, &error);
        onInterrupt(nullptr);
        if (!written) throw Failure("snapshot", 0, "cannot write " + error);
    }
    // With --json standard output holds JSON: the object, or the profile itself.
    if (!ctx.jsonOutput)
        warn("wrote the profile of " + uri + " to " + (file == kStandardOutput ? "standard output" : file));
    else if (file != kStandardOutput)
        ctx.emit({{"profile", file}}, nullptr);
    return kExitOk;
}

}  // namespace

void addSnapshotCommand(CLI::App& app, Context& ctx) {
    static std::string file;
    CLI::App* cmd = app.add_subcommand("snapshot", "Write the printer's state as a simulator profile (sim:FILE serves it)");
    cmd->add_option("--profile", file, "The profile file to write (replaced whole); - for standard output")
        ->required()
        ->type_name("FILE");
    cmd->callback([&ctx] { ctx.action = [&ctx] { return snapshot(ctx, file); }; });
}

}  // namespace kvprt
