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
    std::vector<std::function<void(std::ostream&)>> texts(sections.size());
    int status = kExitOk;
    const int partialBefore = partialFailures;
    for (size_t i = 0; i < sections.size(); ++i) {
        const Section* s = sections[i];
        printer.beginPart("while reading \"" + s->title + "\"");
        try {
            Part part = s->gather(printer);
            data[s->key] = std::move(part.data);
            texts[i] = std::move(part.text);
        } catch (const Failure& f) {
            if (f.code() == BCE_E_INVALID) {
                data[s->key] = unavailableJson(f);
                texts[i] = [](std::ostream& out) { out << "  " << kNotAvailable << '\n'; };
                continue;
            }
            warn(s->title + ": " + f.message());
            data[s->key] = {{"error", failureJson(f)}};
            status = kExitFailed;
            // Alone, a section's failure is on standard error only; under a heading it is said there too.
            if (headings) texts[i] = [message = f.message()](std::ostream& out) { out << "  unavailable: " << message << '\n'; };
        }
    }
    if (partialFailures != partialBefore) status = kExitFailed;
    ctx.emit(data, [&](const json&, std::ostream& out) {
        for (size_t i = 0; i < sections.size(); ++i) {
            if (headings) {
                if (i > 0) out << '\n';
                heading(out, sections[i]->title);
            }
            if (texts[i]) texts[i](out);
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
