// discover's SNMP sweep through the net:// backend's SNMP client (net/snmp),
// which runs on its own loop thread: at most `jobs` agents are asked at
// once, each with one GET PDU, and this thread waits for the last answer.
// Without the backend (KVPO_BUILD_NET off) there is no sweep.
#include "discover.h"
#include "session.h"

#if KVPRT_SNMP_SWEEP
#include <condition_variable>
#include <mutex>

#include "options.h"
#include "snmp/client.h"
#include "snmp/oids.h"

namespace kvprt {
namespace {

namespace snmp = kvnet::snmp;

// What one agent's answer says, by the objects asked.
Answer answerOf(const std::string& address, const std::vector<snmp::VarBind>& bindings) {
    using namespace snmp::oid;
    const snmp::Oid descr = cell(hrDeviceEntry, hrDeviceDescr, {1});
    const snmp::Oid serial = cell(prtGeneralEntry, prtGeneralSerialNumber, {1});
    Answer a{address, {}, {}, {}, "snmp"};
    std::string system;
    for (const snmp::VarBind& b : bindings) {
        if (b.value.type != snmp::Value::Type::OctetString) continue;
        std::string text = printerText(b.value.bytes);
        if (b.oid == sysName) a.name = std::move(text);
        else if (b.oid == descr) a.model = std::move(text);
        else if (b.oid == serial) a.serial = std::move(text);
        else if (b.oid == sysDescr) system = std::move(text);
    }
    if (a.model.empty()) a.model = std::move(system);   // no Host Resources MIB: the system's description
    return a;
}

}  // namespace

std::vector<Answer> sweepSnmp(const std::vector<std::string>& addresses, const SweepOptions& options) {
    kvnet::NetOptions base;
    base.protocols = kvnet::kSnmp;
    base.snmpPort = options.snmpPort;
    base.timeoutMs = options.timeoutS * 1000;
    if (!options.community.empty()) base.community = options.community;
    std::string error;
    if (!options.auth.empty() && !kvnet::readCredentials(kvnet::credentialsPath(), options.auth, &base, &error))
        throw Failure("discover", 0, error);
    if (base.snmpVersion == kvnet::SnmpVersion::V3 && options.auth.empty())
        throw Failure("discover", 0, "SNMPv3 needs --auth");

    using namespace snmp::oid;
    const std::vector<snmp::Oid> asked = {sysDescr, sysName, cell(hrDeviceEntry, hrDeviceDescr, {1}),
                                          cell(prtGeneralEntry, prtGeneralSerialNumber, {1})};
    struct Sweep {
        std::mutex mutex;
        std::condition_variable changed;
        size_t running = 0;
        std::vector<Answer> answers;
    };
    auto sweep = std::make_shared<Sweep>();
    std::unique_lock lock(sweep->mutex);
    for (const std::string& address : addresses) {
        sweep->changed.wait(lock, [&] { return sweep->running < options.jobs; });
        ++sweep->running;
        kvnet::NetOptions one = base;
        one.host = address;
        std::shared_ptr<snmp::Client> client = snmp::Client::create(one);
        // The callback holds the client until it has answered; the client is
        // then deleted on its loop, closing its socket.
        client->get(asked, [sweep, address, client](snmp::Result result) mutable {
            client.reset();
            std::lock_guard guard(sweep->mutex);
            if (result.rc == 0 && !result.bindings.empty()) sweep->answers.push_back(answerOf(address, result.bindings));
            --sweep->running;
            sweep->changed.notify_all();
        });
    }
    sweep->changed.wait(lock, [&] { return sweep->running == 0; });
    return std::move(sweep->answers);
}

}  // namespace kvprt

#else

std::vector<kvprt::Answer> kvprt::sweepSnmp(const std::vector<std::string>&, const SweepOptions&) {
    throw Failure("discover", 0, "this kvprt was built without the net:// backend: no SNMP sweep (--dns-sd works)");
}

#endif
