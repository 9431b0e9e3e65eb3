#include "trap_hints.h"

#include <asio/ip/udp.hpp>
#include <map>
#include <mutex>

#include "gateway.h"
#include "snmp/traps.h"

namespace kvnet {
namespace {

// An address as the listener names a trap's source: IPv4 addresses that came
// over an IPv6 socket in their IPv4 form.
std::string canonical(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

struct Registry {
    std::mutex lock;
    std::shared_ptr<snmp::TrapListener> listener;
    std::multimap<std::string, std::pair<unsigned, std::function<void()>>> byAddress;
    unsigned next = 1;

    void add(const std::string& address, unsigned id, const std::function<void()>& poll) {
        std::lock_guard guard(lock);
        byAddress.emplace(address, std::make_pair(id, poll));
    }
    void remove(unsigned id) {
        std::lock_guard guard(lock);
        for (auto it = byAddress.begin(); it != byAddress.end();)
            it = it->second.first == id ? byAddress.erase(it) : std::next(it);
    }
    // A hint, on the loop.
    void hint(const std::string& source) {
        std::vector<std::function<void()>> polls;
        {
            std::lock_guard guard(lock);
            asio::error_code bad;
            auto address = asio::ip::make_address(source, bad);
            auto [first, last] = byAddress.equal_range(bad ? source : canonical(address));
            for (auto it = first; it != last; ++it) polls.push_back(it->second.second);
        }
        for (auto& poll : polls) poll();
    }
};

Registry& registry() {
    static auto* instance = new Registry;   // never destroyed: the loop outlives static destruction
    return *instance;
}

// Starts the listener on first use; false with `error` when it cannot be.
bool listening(std::string* error) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    if (r.listener) return true;
    std::string endpoint = snmp::TrapListener::endpointFromEnvironment();
    if (endpoint.empty()) return false;
    r.listener = snmp::TrapListener::start(endpoint, error);
    if (!r.listener) return false;
    r.listener->addHandler([](const std::string& source, const snmp::Oid&) { registry().hint(source); });
    return true;
}

}  // namespace

std::shared_ptr<void> TrapHints::watch(const std::string& host, std::function<void()> poll, std::string* error) {
    if (!listening(error)) return nullptr;
    Registry& r = registry();
    unsigned id;
    {
        std::lock_guard guard(r.lock);
        id = r.next++;
    }
    asio::error_code notAddress;
    auto address = asio::ip::make_address(host, notAddress);
    if (!notAddress) {
        r.add(canonical(address), id, poll);
    } else {
        // A name: its addresses, looked up once without blocking the loop.
        auto resolver = std::make_shared<asio::ip::udp::resolver>(Gateway::instance().context());
        Gateway::instance().post([resolver, host, id, poll] {
            resolver->async_resolve(host, "", [resolver, id, poll](const asio::error_code& ec, auto results) {
                if (ec) return;
                for (const auto& entry : results) registry().add(canonical(entry.endpoint().address()), id, poll);
            });
        });
    }
    return std::shared_ptr<void>(nullptr, [id](void*) { registry().remove(id); });
}

}  // namespace kvnet
