// Printers polled at once when an SNMP trap comes from their address. With
// KVPRTOBJ_NET_TRAP_LISTEN set (snmp/traps.h), the first printer that asks
// starts the process's trap listener; a trap from one of a printer's
// addresses (its host as written, or the addresses a name resolves to, looked
// up once on the loop) calls that printer's `poll` on the loop. A trap is a
// hint: what the poll reads is the state.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kvnet {

class TrapHints {
public:
    // Watches `host` for `poll` until the returned registration is destroyed
    // (from any thread). Null when no listener is asked for, or when it could
    // not be started (`error` says why).
    static std::shared_ptr<void> watch(const std::string& host, std::function<void()> poll, std::string* error);
};

}  // namespace kvnet
