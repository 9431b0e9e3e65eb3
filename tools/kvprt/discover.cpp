// discover: the command, the address ranges, the merge of answers into
// printers, and their table or JSON.
#include "discover.h"

#include <arpa/inet.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include "command.h"

namespace kvprt {
namespace {

// The smallest prefix length swept: a /16 is kMaxSweepAddresses.
constexpr unsigned kMinPrefix = 16;

bool parseAddress(const std::string& text, uint32_t* address) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    *address = ntohl(a.s_addr);
    return true;
}

std::string addressText(uint32_t address) {
    in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

uint32_t addressKey(const std::string& text) {
    uint32_t a = 0;
    parseAddress(text, &a);
    return a;
}

bool isUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n;
    }
    return true;
}

// The answers merged: by serial number, else by address; a DNS-SD answer
// joins the printer of its address.
std::vector<Found> merge(std::vector<Answer> answers) {
    std::sort(answers.begin(), answers.end(), [](const Answer& a, const Answer& b) {
        return std::pair(a.how != "snmp", addressKey(a.address)) < std::pair(b.how != "snmp", addressKey(b.address));
    });
    std::vector<Found> printers;
    std::map<std::string, size_t> bySerial, byAddress;
    for (Answer& a : answers) {
        auto known = [](const std::map<std::string, size_t>& index, const std::string& key) {
            auto at = index.find(key);
            return at == index.end() ? std::optional<size_t>() : at->second;
        };
        std::optional<size_t> i = a.serial.empty() ? std::nullopt : known(bySerial, a.serial);
        if (!i) i = known(byAddress, a.address);
        if (!i) {
            i = printers.size();
            printers.push_back({{}, a.name, a.model, a.serial, {}});
        }
        Found& p = printers[*i];
        byAddress[a.address] = *i;
        if (!a.serial.empty()) bySerial.emplace(a.serial, *i);
        if (std::find(p.addresses.begin(), p.addresses.end(), a.address) == p.addresses.end()) p.addresses.push_back(a.address);
        if (std::find(p.how.begin(), p.how.end(), a.how) == p.how.end()) p.how.push_back(a.how);
        for (auto [mine, theirs] : {std::pair{&p.name, &a.name}, {&p.model, &a.model}, {&p.serial, &a.serial}})
            if (mine->empty()) *mine = *theirs;
    }
    for (Found& p : printers)
        std::sort(p.addresses.begin(), p.addresses.end(),
                  [](const std::string& a, const std::string& b) { return addressKey(a) < addressKey(b); });
    std::sort(printers.begin(), printers.end(),
              [](const Found& a, const Found& b) { return addressKey(a.addresses[0]) < addressKey(b.addresses[0]); });
    return printers;
}

json textOrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

struct DiscoverArgs {
    std::vector<std::string> ranges;
    bool dnsSd = false;
    std::string fleetFile;
    SweepOptions sweep;
};

int discover(Context& ctx, const DiscoverArgs& args) {
    if (args.ranges.empty() && !args.dnsSd)
        throw CLI::ValidationError("discover needs address ranges, --dns-sd or both");
    if (!args.fleetFile.empty() && !args.sweep.community.empty() && args.sweep.auth.empty())
        throw CLI::ValidationError(
            "--write-fleet does not write a community into the fleet file: put it in an entry of the credentials "
            "file (docs/realprinters.md) and give --auth NAME");
    std::vector<std::string> addresses;
    std::string error;
    if (!expandRanges(args.ranges, &addresses, &error)) throw CLI::ValidationError(error);

    std::vector<Answer> answers = addresses.empty() ? std::vector<Answer>{} : sweepSnmp(addresses, args.sweep);
    if (args.dnsSd) {
        uint32_t ignored = 0;
        for (Answer& a : browseDnsSd(std::max(args.sweep.timeoutS, 3u)))
            if (parseAddress(a.address, &ignored)) answers.push_back(std::move(a));
    }
    const std::vector<Found> printers = merge(std::move(answers));
    if (!args.fleetFile.empty()) writeFleet(args.fleetFile, printers, args.sweep);

    json list = json::array();
    for (const Found& p : printers)
        list.push_back({{"addresses", p.addresses}, {"name", textOrNull(p.name)}, {"model", textOrNull(p.model)},
                        {"serial", textOrNull(p.serial)}, {"foundBy", p.how}});
    ctx.emit({{"printers", list}}, [&](const json&, std::ostream& out) {
        Table table({"Address", "Name", "Model", "Serial", "Found by"});
        for (const Found& p : printers)
            table.add({joined(p.addresses), p.name.empty() ? "-" : p.name, p.model.empty() ? "-" : p.model,
                       p.serial.empty() ? "-" : p.serial, joined(p.how)});
        table.print(out, "");
    });
    if (!args.fleetFile.empty() && !ctx.jsonOutput) warn("wrote the fleet file " + args.fleetFile);
    return kExitOk;
}

}  // namespace

bool expandRanges(const std::vector<std::string>& ranges, std::vector<std::string>* addresses, std::string* error) {
    std::set<uint32_t> all;
    for (const std::string& range : ranges) {
        const size_t slash = range.find('/');
        uint32_t base = 0;
        unsigned prefix = 32;
        const std::string bits = slash == std::string::npos ? "32" : range.substr(slash + 1);
        if (!parseAddress(range.substr(0, slash), &base) || bits.empty() || bits.size() > 2 ||
            !std::all_of(bits.begin(), bits.end(), ::isdigit) || (prefix = std::stoul(bits)) > 32) {
            *error = "\"" + range + "\" is not an IPv4 address or range (such as 192.0.2.0/24)";
            return false;
        }
        if (prefix < kMinPrefix) {
            *error = range + " holds more than " + std::to_string(kMaxSweepAddresses) +
                     " addresses: sweep at most a /16 at a time";
            return false;
        }
        const uint64_t count = uint64_t{1} << (32 - prefix);
        const uint32_t first = prefix == 32 ? base : base & ~static_cast<uint32_t>(count - 1);
        const bool hosts = count >= 4;   // without the network and broadcast addresses
        for (uint64_t i = hosts ? 1 : 0; i < (hosts ? count - 1 : count); ++i) all.insert(first + static_cast<uint32_t>(i));
        if (all.size() > kMaxSweepAddresses) {
            *error = "the ranges hold more than " + std::to_string(kMaxSweepAddresses) + " addresses";
            return false;
        }
    }
    for (uint32_t a : all) addresses->push_back(addressText(a));
    return true;
}

std::string printerText(const std::string& bytes) {
    std::string text = bytes.substr(0, kMaxTextBytes);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    if (isUtf8(text)) return text;
    return utf8(text);
}

void addDiscoverCommand(CLI::App& app, Context& ctx) {
    static DiscoverArgs args;
    CLI::App* cmd = app.add_subcommand("discover", "Find the printers of address ranges (SNMP) and of DNS-SD");
    cmd->add_option("ranges", args.ranges, "IPv4 ranges to sweep (192.0.2.0/24; at most a /16 each), or addresses")
        ->type_name("CIDR");
    cmd->add_flag("--dns-sd", args.dnsSd, "Also browse DNS-SD (IPP, IPPS and port 9100 printers) through Avahi");
    cmd->add_option("--write-fleet", args.fleetFile,
                    "Write the printers into this kvprtd fleet file, keeping the entries it has")
        ->type_name("FILE");
    cmd->add_option("--jobs", args.sweep.jobs, "Agents asked at once")->check(CLI::Range(1, 256))->capture_default_str();
    cmd->add_option("--timeout", args.sweep.timeoutS, "Seconds to wait for each agent")
        ->check(CLI::Range(1, 60))
        ->capture_default_str();
    cmd->add_option("--community", args.sweep.community, "The read community (default public)");
    cmd->add_option("--auth", args.sweep.auth, "The entry of the credentials file to ask with (as net://?auth=)")
        ->type_name("NAME");
    cmd->add_option("--snmp-port", args.sweep.snmpPort, "The agents' UDP port")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    cmd->callback([&ctx] { ctx.action = [&ctx] { return discover(ctx, args); }; });
}

}  // namespace kvprt
