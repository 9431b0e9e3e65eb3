// Quick Setup: receive a printer's settings into a file, send a file's
// settings into a printer (command qs). The library's worker reports to a
// message window of this thread; the pump below runs until it has finished.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Why the file at `path` cannot be read (a send) or written (a receive), in
// the system's words, found after the library reported that it could not;
// empty when nothing is found.
std::string fileProblem(const std::string& path, bool send) {
    struct stat st{};
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    if (send) {
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            std::fclose(f);
            return "";
        }
        return std::strerror(errno);
    }
    if (exists && S_ISLNK(st.st_mode)) return "a symbolic link, not a regular file";
    if (exists && !S_ISREG(st.st_mode)) return "not a regular file";
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return ::access(folder.c_str(), W_OK | X_OK) != 0 ? folder + ": " + std::strerror(errno) : "";
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

// A file's path with the reason it could not be used, when one is found.
std::string fileDetail(const std::string& path, bool send) {
    std::string problem = fileProblem(path, send);
    return problem.empty() ? path : path + ": " + problem;
}

// Whether the file of a send has the header-word format, whose number of
// variables the library cannot know beforehand.
bool headerWordFile(Printer& printer, const std::string& path) {
    QuickSetup::FileFormat format = QuickSetup::QSF_LIBRARY;
    return QuickSetup::verifyQuickSetupFile(&printer.obj(), path, format, nullptr) == QuickSetup::KVQSRC_OK &&
           format == QuickSetup::QSF_HEADER_WORD;
}

int runTransfer(Context& ctx, bool send, const std::string& path, bool force) {
    struct stat st{};
    if (!send && !force && ::lstat(path.c_str(), &st) == 0)
        throw Failure("qs receive", 0, path + " exists (--force replaces it)");
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
        throw Failure(operation, static_cast<long>(rc), text,
                      rc == QuickSetup::KVQSRC_READ_ERROR ? fileDetail(path, send) : path);
    }

    const bool stepsKnown = !(send && headerWordFile(printer, path));
    progress.setTotal(stepsKnown ? steps : 0);
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
        using Q = QuickSetup;
        const bool fileError = code == Q::QSE_OPEN || code == Q::QSE_WRITE || code == Q::QSE_READ;
        Failure f(operation, code, workerErrorText(code), fileError ? fileDetail(path, send) : path);
        warn(f.message());
        errors.push_back({{"code", code}, {"text", f.codeText()}});
    }
    bool stopped = interrupted();
    if (stopped) warn(std::string(operation) + ": stopped");
    json result = {{"direction", send ? "send" : "receive"},
                   {"file", path},
                   {"steps", stepsKnown ? json(steps) : json(nullptr)},
                   {"progress", transfer.lastStep},
                   {"errors", errors},
                   {"stopped", stopped}};
    ctx.emit({{"quickSetup", result}}, [](const json& j, std::ostream& out) {
        const json& q = j["quickSetup"];
        bool ok = q["errors"].empty() && !q["stopped"].get<bool>();
        out << (q["direction"] == "send" ? "Send from " : "Receive into ") << cell(q["file"])
            << (ok ? ": done" : ": not completed") << " (" << cell(q["progress"])
            << (q["steps"].is_null() ? "" : " of " + cell(q["steps"])) << " steps).\n";
    });
    return errors.empty() && !stopped ? kExitOk : kExitFailed;
}

}  // namespace

void addQuickSetupCommands(CLI::App& app, Context& ctx) {
    static std::string path;
    static bool force = false;
    CLI::App* qs = app.add_subcommand("qs", "Quick Setup: copy printer settings into a file or out of one");
    qs->require_subcommand(1);
    CLI::App* receive = qs->add_subcommand(
        "receive", "Read the printer's settings into a new Quick Setup file (an existing one only with --force)");
    receive->add_option("file", path, "The file to write")->required();
    receive->add_flag("--force", force,
                      "Replace an existing file (once the receive has completed; a failed one leaves it as it was)");
    receive->callback([&ctx] { ctx.action = [&ctx] { return runTransfer(ctx, false, path, force); }; });
    CLI::App* send = qs->add_subcommand("send", "Write the settings of a Quick Setup file into the printer");
    send->add_option("file", path, "The file to read")->required()->check(CLI::ExistingFile);
    send->callback([&ctx] { ctx.action = [&ctx] { return runTransfer(ctx, true, path, false); }; });
}

}  // namespace kvprt
