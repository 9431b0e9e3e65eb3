#include "command.h"

#include <atomic>
#include <iostream>
#include <sstream>

namespace kvprt {

Printer& Context::printer() {
    if (!m_printer) m_printer = std::make_unique<Printer>(uri);
    return *m_printer;
}

void Context::emit(const json& data, const Renderer& render) const {
    if (jsonOutput) {
        std::cout << jsonText(data, 2) << '\n';
    } else {
        std::ostringstream text;
        render(data, text);
        std::istringstream lines(text.str());
        for (std::string line; std::getline(lines, line);) std::cout << escapeControls(line) << '\n';
    }
    std::cout.flush();
}

void warn(const std::string& message) { std::cerr << "kvprt: " << escapeControls(message) << std::endl; }

json failureJson(const Failure& failure) {
    return {{"operation", failure.operation()},
            {"code", failure.code()},
            {"text", failure.codeText()},
            {"message", failure.message()}};
}

namespace {
std::atomic<int> partialFailures{0};
std::atomic<bool> partialMessages{true};
}

json unavailableJson(const Failure& failure) { return {{"unavailable", failureJson(failure)}}; }

json failedPartJson(const Failure& failure) {
    return failure.code() == BCE_E_INVALID ? unavailableJson(failure) : json{{"error", failureJson(failure)}};
}

bool isUnavailable(const json& value) { return value.is_object() && value.contains("unavailable"); }

json partialFailure(const Failure& failure) {
    if (partialMessages) warn(failure.message());
    ++partialFailures;
    return failureJson(failure);
}

void setPartialFailureMessages(bool toStandardError) { partialMessages = toStandardError; }

int runSections(Context& ctx, const std::vector<const Section*>& sections, bool headings) {
    Printer& printer = ctx.printer();
    json data = json::object();
    int status = kExitOk;
    const int partialBefore = partialFailures;
    for (const Section* s : sections) {
        printer.beginPart("while reading \"" + s->title + "\"");
        try {
            data[s->key] = s->gather(printer);
        } catch (const Failure& f) {
            if (f.code() == BCE_E_INVALID) {
                data[s->key] = unavailableJson(f);
                continue;
            }
            warn(s->title + ": " + f.message());
            data[s->key] = {{"error", failureJson(f)}};
            status = kExitFailed;
        }
    }
    if (partialFailures != partialBefore) status = kExitFailed;
    ctx.emit(data, [&](const json& d, std::ostream& out) {
        bool first = true;
        for (const Section* s : sections) {
            const json& value = d[s->key];
            bool failed = value.is_object() && value.contains("error");
            if (headings) {
                if (!first) out << '\n';
                heading(out, s->title);
                if (failed) out << "  unavailable: " << value["error"]["message"].get<std::string>() << '\n';
            }
            if (isUnavailable(value))
                out << "  " << kNotAvailable << '\n';
            else if (!failed)
                s->render(value, out);
            first = false;
        }
    });
    return status;
}

CLI::App* addSectionCommand(CLI::App& app, Context& ctx, const std::string& name, const std::string& description,
                            std::vector<const Section*> sections) {
    CLI::App* cmd = app.add_subcommand(name, description);
    cmd->callback([&ctx, sections, cmd] {
        if (!cmd->get_subcommands().empty()) return;   // a subcommand of its own was chosen
        ctx.action = [&ctx, sections] { return runSections(ctx, sections, sections.size() > 1); };
    });
    return cmd;
}

}  // namespace kvprt
