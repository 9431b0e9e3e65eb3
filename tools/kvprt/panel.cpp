// The remote operator panel: show it, lock and unlock it, press a button,
// reset or continue the printer (command panel).
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "arguments.h"
#include "command.h"
#include "records.h"

namespace kvprt {

std::vector<std::string> panelLines(const KVPrtObj::OPPANELDATA& panel) {
    std::vector<std::string> lines;
    const std::string& text = panel.strPanelText;   // up to width x height characters, line after line
    for (int row = 0; row < panel.nPanelHeight && panel.nPanelWidth > 0; ++row) {
        size_t at = static_cast<size_t>(row) * static_cast<size_t>(panel.nPanelWidth);
        std::string line = at < text.size() ? text.substr(at, static_cast<size_t>(panel.nPanelWidth)) : "";
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(utf8(line));
    }
    return lines;
}

json panelJson(const KVPrtObj::OPPANELDATA& panel) {
    return {{"width", panel.nPanelWidth}, {"height", panel.nPanelHeight}, {"lines", panelLines(panel)}};
}

json panelJson(const PanelRecord& panel) {
    json j = panelJson(panel.panel);
    j["locked"] = panel.locked;
    return j;
}

Reading<PanelRecord> readPanel(KVPrtObj& obj) {
    Reading<PanelRecord> r{0, "bidiROPQueryData"};
    void* raw = nullptr;
    r.rc = obj.bidiROPQueryData(&raw);
    std::unique_ptr<KVPrtObj::OPPANELDATA> panel(static_cast<KVPrtObj::OPPANELDATA*>(raw));
    if (r.rc != 0) return r;
    r.value.panel = *panel;
    int locked = 0;
    r.operation = "bidiROPQueryLock";
    r.rc = obj.bidiROPQueryLock(&locked);
    r.value.locked = locked != 0;
    return r;
}

void renderPanelText(const KVPrtObj::OPPANELDATA& panel, std::ostream& out) {
    // Lines as shown (control characters escaped) and their widths; the box
    // is as wide as the panel, or as its widest line when escapes make one wider.
    std::vector<std::pair<std::string, size_t>> lines;
    size_t width = static_cast<size_t>(std::max(panel.nPanelWidth, 0));
    for (const std::string& line : panelLines(panel)) {
        std::string text = escapeControls(line);
        size_t shown = 0;
        for (char c : text) shown += (c & 0xC0) != 0x80;
        width = std::max(width, shown);
        lines.emplace_back(std::move(text), shown);
    }
    std::string rule = "  +" + std::string(width, '-') + "+\n";
    out << rule;
    for (const auto& [text, shown] : lines) out << "  |" << text << std::string(width - shown, ' ') << "|\n";
    out << rule;
}

namespace {

void renderPanel(const PanelRecord& p, std::ostream& out) {
    renderPanelText(p.panel, out);
    out << "  Panel " << (p.locked ? "locked" : "unlocked") << '\n';
}

Part gatherPanel(Printer& printer) {
    return partOf(readPanel(printer.obj()).get(), [](const PanelRecord& p) { return panelJson(p); }, renderPanel);
}

// A panel command: does `act`, then shows the panel as it is afterwards.
void addPanelAction(CLI::App& panel, Context& ctx, const char* name, const char* description,
                    std::function<void(KVPrtObj&)> act) {
    panel.add_subcommand(name, description)->callback([&ctx, act] {
        ctx.action = [&ctx, act] {
            act(ctx.printer().obj());
            return runSections(ctx, {&kPanelSection}, false);
        };
    });
}

}  // namespace

const Section kPanelSection = {"panel", "Operator panel", gatherPanel};

void addPanelCommands(CLI::App& app, Context& ctx) {
    CLI::App* panel = app.add_subcommand("panel", "The remote operator panel");
    panel->require_subcommand(1);
    addPanelAction(*panel, ctx, "show", "Show the panel's display and lock", [](KVPrtObj&) {});
    addPanelAction(*panel, ctx, "lock", "Lock the panel",
                   [](KVPrtObj& obj) { check(obj.bidiROPSetLock(1), "bidiROPSetLock"); });
    addPanelAction(*panel, ctx, "unlock", "Unlock the panel",
                   [](KVPrtObj& obj) { check(obj.bidiROPSetLock(0), "bidiROPSetLock"); });
    addPanelAction(*panel, ctx, "reset", "Reset the printer from the panel",
                   [](KVPrtObj& obj) { check(obj.bidiROPReset(), "bidiROPReset"); });
    addPanelAction(*panel, ctx, "continue", "Continue after an operator intervention",
                   [](KVPrtObj& obj) { check(obj.bidiROPContinue(), "bidiROPContinue"); });

    static unsigned code = 0;
    CLI::App* press = panel->add_subcommand("press", "Press a panel button");
    press->add_option("code", code, "Button code (0-255, 0x.. for hexadecimal)")
        ->required()
        ->transform(kNumber)
        ->check(CLI::Range(0, 255));
    press->callback([&ctx] {
        ctx.action = [&ctx] {
            check(ctx.printer().obj().bidiROPPushButton(code), "bidiROPPushButton");
            return runSections(ctx, {&kPanelSection}, false);
        };
    });
}

}  // namespace kvprt
