// Variables and control commands: var get/set, ports, loopback, offline,
// online and reset.
#include <memory>
#include <vector>

#include "command.h"

namespace kvprt {
namespace {

// A variable id: two bytes in hexadecimal ("01 0A", "010A", "0x010A").
std::vector<uint8_t> variableId(std::string text) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.erase(0, 2);
    std::vector<uint8_t> id;
    if (!parseHex(text, &id) || id.size() != 2)
        throw CLI::ValidationError("ID", "a variable id is two bytes in hexadecimal, such as 01 0A: " + text);
    return id;
}

// A variable as read: {"id", "kind", "value", "length", "text"}.
json readVariable(KVPrtObj& obj, std::vector<uint8_t> id, bool misc) {
    void* raw = nullptr;
    unsigned long length = 0;
    long rc = misc ? obj.bidiReadMiscVar(id.data(), &raw, &length, 0) : obj.bidiReadOMVar(id.data(), &raw, &length);
    std::unique_ptr<void, void (*)(void*)> value(raw, [](void* p) { ::operator delete(p); });
    check(rc, misc ? "bidiReadMiscVar" : "bidiReadOMVar");
    // Object-model reads echo the id before the value; miscellaneous reads hand the value alone.
    const size_t skip = misc ? 0 : 2;
    const auto* bytes = static_cast<const uint8_t*>(raw);
    json v = {{"id", hexBytes(id.data(), 2)}, {"kind", misc ? "misc" : "objectModel"}};
    v.update(valueJson(bytes ? bytes + skip : nullptr, bytes && length > skip ? length - skip : 0));
    return v;
}

void renderVariables(const json& j, std::ostream& out) {
    for (const json& v : j["variables"]) {
        std::string text = v["text"].is_null() ? "" : v["text"].get<std::string>();
        if (text.find('\n') != std::string::npos) {   // a text of several lines, one per line
            out << cell(v["id"]) << ":\n";
            for (size_t at = 0; at < text.size();) {
                size_t end = text.find('\n', at);
                if (end == std::string::npos) end = text.size();
                out << "  " << text.substr(at, end - at) << '\n';
                at = end + 1;
            }
            continue;
        }
        out << cell(v["id"]) << " = " << (v["length"] == 0 ? "(empty)" : cell(v["value"]));
        if (!text.empty()) out << "  \"" << text << '"';
        out << '\n';
    }
}

// A command that runs `act` on the printer object and reports `done`.
void addSimpleAction(CLI::App& app, Context& ctx, const char* name, const char* description, json done,
                     std::string doneText, std::function<void(KVPrtObj&)> act) {
    app.add_subcommand(name, description)->callback([&ctx, done, doneText, act] {
        ctx.action = [&ctx, done, doneText, act] {
            act(ctx.printer().obj());
            ctx.emit(done, [doneText](const json&, std::ostream& out) { out << doneText << '\n'; });
            return kExitOk;
        };
    });
}

}  // namespace

void addControlCommands(CLI::App& app, Context& ctx) {
    static std::vector<std::string> ids;
    static std::string id, value;
    static bool misc = false;
    CLI::App* var = app.add_subcommand("var", "Read or write a printer variable");
    var->require_subcommand(1);
    CLI::App* get = var->add_subcommand("get", "Read variables");
    get->add_option("id", ids, "Variable ids, two bytes in hexadecimal each (010A or \"01 0A\")")->required();
    get->add_flag("--misc", misc, "A miscellaneous variable (such as 00 A6, the code levels)");
    get->callback([&ctx] {
        ctx.action = [&ctx] {
            json list = json::array();
            for (const std::string& text : ids) list.push_back(readVariable(ctx.printer().obj(), variableId(text), misc));
            ctx.emit({{"variables", list}}, renderVariables);
            return kExitOk;
        };
    });
    CLI::App* set = var->add_subcommand("set", "Write an object-model variable, then read it back");
    set->add_option("id", id, "Variable id, two bytes in hexadecimal (010A or \"01 0A\")")->required();
    set->add_option("value", value, "The value in hexadecimal (00 02); empty for none")->required();
    set->callback([&ctx] {
        ctx.action = [&ctx] {
            std::vector<uint8_t> varId = variableId(id), bytes;
            if (!parseHex(value, &bytes)) throw CLI::ValidationError("VALUE", "not hexadecimal bytes: " + value);
            KVPrtObj& obj = ctx.printer().obj();
            check(obj.bidiSetOMVar(varId.data(), bytes.data(), bytes.size()), "bidiSetOMVar");
            ctx.emit({{"variables", json::array({readVariable(obj, varId, false)})}}, renderVariables);
            return kExitOk;
        };
    });

    app.add_subcommand("ports", "The printer's available ports")->callback([&ctx] {
        ctx.action = [&ctx] {
            int flags[256] = {};
            check(ctx.printer().obj().bidiGetAvailablePorts(256, flags), "bidiGetAvailablePorts");
            json ports = json::array();
            for (int p = 0; p < 256; ++p)
                if (flags[p]) ports.push_back(p);
            ctx.emit({{"ports", ports}}, [](const json& j, std::ostream& out) {
                std::string list;
                for (const json& p : j["ports"]) list += (list.empty() ? "" : ", ") + p.dump();
                out << "Available ports: " << (list.empty() ? "none" : list) << '\n';
            });
            return kExitOk;
        };
    });

    addSimpleAction(app, ctx, "loopback", "Check that the printer answers (loop-back request)", {{"loopback", true}},
                    "The printer answered the loop-back request.",
                    [](KVPrtObj& obj) { check(obj.bidiLoopBack(), "bidiLoopBack"); });
    addSimpleAction(app, ctx, "offline", "Take the printer offline", {{"remote", "offline"}},
                    "The printer is offline.", [](KVPrtObj& obj) { check(obj.SendRemoteOffline(), "SendRemoteOffline"); });
    addSimpleAction(app, ctx, "online", "Bring the printer online", {{"remote", "online"}}, "The printer is online.",
                    [](KVPrtObj& obj) { check(obj.SendRemoteOnline(), "SendRemoteOnline"); });

    CLI::App* reset = app.add_subcommand("reset", "Reset the printer or its settings");
    reset->require_subcommand(1);
    addSimpleAction(*reset, ctx, "power-on", "Reset the printer as at power-on", {{"reset", "power-on"}},
                    "The printer was reset.", [](KVPrtObj& obj) { check(obj.bidiPORPrinter(), "bidiPORPrinter"); });
    addSimpleAction(*reset, ctx, "nvram", "Give every setting its factory value", {{"reset", "nvram"}},
                    "The printer's settings were reset.",
                    [](KVPrtObj& obj) { check(obj.bidiResetNVRAM(), "bidiResetNVRAM"); });
}

}  // namespace kvprt
