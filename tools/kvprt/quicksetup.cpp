// Quick Setup: receive a printer's settings into a file, send a file's
// settings into a printer (command qs). The library's worker reports to a
// message window of this thread; the pump below runs until it has finished.
#include <unistd.h>

#include <iostream>
#include <vector>

#include "command.h"
#include "interrupt.h"
#include "progress.h"

namespace kvprt {
namespace {

// Results of the send and receive calls (QuickSetup::KVQSRC).
const char* const kStartResults[] = {
    "success",
    "the file or the configuration could not be read",
    "not a Quick Setup file for this printer type",
    "no window for the worker's messages",
    "the worker thread could not be started",
    "unknown printer type",
    "the Quick Setup file library is missing or incomplete",
};

// Error codes the worker posts (QuickSetup::KVQSERROR).
std::string workerErrorText(long code) {
    switch (code) {
    case QuickSetup::QSE_LIBRARY: return "the file library lacks a function, or memory ran out";
    case QuickSetup::QSE_READ: return "the file could not be read whole";
    case QuickSetup::QSE_WRITE: return "writing the file failed";
    case QuickSetup::QSE_OPEN: return "the file could not be opened";
    case QuickSetup::QSE_NOT_QSF: return "not a Quick Setup file for this printer";
    case QuickSetup::QSE_VERIFY: return "the file could not be verified";
    case QuickSetup::QSE_VARIABLE: return "the printer refused a variable or could not give one";
    default: return "unknown Quick Setup error";
    }
}

// What the worker has reported so far.
struct Transfer {
    Progress* progress;
    unsigned long lastStep = 0;
    std::vector<long> errors;
    bool finished = false;
};

LRESULT onWorkerMessage(HWND window, UINT message, WPARAM event, LPARAM value) {
    auto* t = static_cast<Transfer*>(GetWindowUserData(window));
    if (message != QuickSetup::kNotifyMessage || t == nullptr) return 0;
    switch (event) {
    case QuickSetup::QSN_PROGRESS:
        t->lastStep = static_cast<unsigned long>(value);
        t->progress->update(t->lastStep);
        break;
    case QuickSetup::QSN_ERROR: t->errors.push_back(static_cast<long>(value)); break;
    case QuickSetup::QSN_FINISHED: t->finished = true; break;
    default: break;
    }
    return 0;
}

int runTransfer(Context& ctx, bool send, const std::string& path) {
    catchInterrupts();   // before the printer is opened, so that no thread of ours takes the signals
    Printer& printer = ctx.printer();
    const char* operation = send ? "bidiQuickSetupSend" : "bidiQuickSetupReceive";

    Progress progress(std::cerr, isatty(STDERR_FILENO) != 0, send ? "send" : "receive", 0);
    Transfer transfer{&progress};
    HWND window = CreateMessageWindow(onWorkerMessage, &transfer);
    KVQSThreadControl control("kvprt", nullptr, 0, &printer.obj(), 0, window, 0, KVQSThreadControl::KVTA_NONE);
    onInterrupt([&control] { control.setKVThreadAction(KVQSThreadControl::KVTA_STOP); });

    unsigned long steps = 0;
    unsigned long rc;
    {
        QuickSetup qs;   // may go as soon as the call has returned
        rc = send ? qs.bidiQuickSetupSend(&printer.obj(), path, window, &steps, &control, 1)
                  : qs.bidiQuickSetupReceive(&printer.obj(), path, window, &steps, &control, 1);
    }
    if (rc != QuickSetup::KVQSRC_OK) {
        onInterrupt(nullptr);
        DestroyWindow(window);
        const char* text = rc < std::size(kStartResults) ? kStartResults[rc] : "unknown result";
        throw Failure(operation, static_cast<long>(rc), text, path);
    }

    progress.setTotal(steps);
    MSG msg;
    while (!transfer.finished && GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    progress.finish();
    onInterrupt(nullptr);
    DestroyWindow(window);

    json errors = json::array();
    for (long code : transfer.errors) {
        Failure f(operation, code, workerErrorText(code), path);
        std::cerr << "kvprt: " << f.message() << '\n';
        errors.push_back({{"code", code}, {"text", f.codeText()}});
    }
    bool stopped = interrupted();
    if (stopped) std::cerr << "kvprt: " << operation << ": stopped\n";
    json result = {{"direction", send ? "send" : "receive"}, {"file", path},   {"steps", steps},
                   {"progress", transfer.lastStep},           {"errors", errors}, {"stopped", stopped}};
    ctx.emit({{"quickSetup", result}}, [](const json& j, std::ostream& out) {
        const json& q = j["quickSetup"];
        bool ok = q["errors"].empty() && !q["stopped"].get<bool>();
        out << (q["direction"] == "send" ? "Send from " : "Receive into ") << cell(q["file"])
            << (ok ? ": done" : ": not completed") << " (" << cell(q["progress"]) << " of " << cell(q["steps"])
            << " steps).\n";
    });
    return errors.empty() && !stopped ? kExitOk : kExitFailed;
}

}  // namespace

void addQuickSetupCommands(CLI::App& app, Context& ctx) {
    static std::string path;
    CLI::App* qs = app.add_subcommand("qs", "Quick Setup: copy printer settings into a file or out of one");
    qs->require_subcommand(1);
    CLI::App* receive = qs->add_subcommand("receive", "Read the printer's settings into a new Quick Setup file");
    receive->add_option("file", path, "The file to write")->required();
    receive->callback([&ctx] { ctx.action = [&ctx] { return runTransfer(ctx, false, path); }; });
    CLI::App* send = qs->add_subcommand("send", "Write the settings of a Quick Setup file into the printer");
    send->add_option("file", path, "The file to read")->required()->check(CLI::ExistingFile);
    send->callback([&ctx] { ctx.action = [&ctx] { return runTransfer(ctx, true, path); }; });
}

}  // namespace kvprt
