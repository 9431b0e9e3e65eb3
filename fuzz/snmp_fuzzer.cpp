// One UDP datagram, as a printer's SNMP agent or a trap sender could send
// it, decoded the way the SNMP client and the trap listener decode theirs:
// net-snmp's parse of a v1/v2c message (no network, no session), the
// bindings as plain values into a MibView, the trap OID of a notification;
// then the bindings laid over a whole printer's view (the healthy
// recording) and the printer's state filled from it, and every read
// encoded, as a refresh does. Seeds: answers recorded from snmpsim and traps
// from snmptrap.
#include <cstddef>
#include <cstdint>

#include "encoders.h"
#include "kvprtobj/bidicodes.h"
#include "snapshot.h"
#include "snmp/convert.h"
#include "snmp/fill.h"
#include "snmprec.h"
#include "snmp/library.h"
#include "snmp/mib.h"
#include "snmp/traps.h"

namespace {
kvnet::snmp::MibView base;   // the healthy recording
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvnet::snmp::initLibrary();
    std::string error;
    if (!snmpfilltest::loadSnmprec(KVFUZZ_SNMP_BASE, &base, &error)) __builtin_trap();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kvnet::snmp;
    PduPtr pdu = parseDatagram(data, size);
    if (!pdu) return 0;
    const std::vector<VarBind> bindings = bindingsOf(*pdu);
    MibView view;
    view.merge(bindings);
    for (const VarBind& binding : bindings) {
        (void)view.number(binding.oid);
        (void)view.bytes(binding.oid);
        if (binding.oid.size() > 1) (void)view.indexes(Oid(binding.oid.begin(), binding.oid.end() - 1));
    }
    (void)trapOidOf(*pdu);

    MibView printer = base;
    printer.merge(bindings);
    kvnet::Snapshot snapshot;
    kvnet::snmp::fill(printer, "192.0.2.10", &snapshot);
    (void)kvnet::snmp::staleRoots(printer, bindings);
    (void)kvnet::snmp::quietPoll(printer);
    // Every read the snapshot answers, as the printer encodes it.
    const uint8_t kNoData = 0, kEvery = 0xFF, kAll[] = {0xFF, 0x00, 0x00, 0x00, 0x40}, kVariable[] = {0x00, 0x4D};
    for (uint16_t code : snapshot.answered) {
        kvsim::Request request{code, &kNoData, 0};
        if (code == kvbidi::kQueryJobs) request = {code, kAll, sizeof kAll};
        if (code == kvbidi::kReadOMVar) request = {code, kVariable, sizeof kVariable};
        if (code == kvbidi::kInterpreters) request = {code, &kEvery, 1};
        if (code == kvbidi::kInputStatus || code == kvbidi::kOutputStatus || code == kvbidi::kSuppliesStatus ||
            code == kvbidi::kTonerInfo)
            request.length = 1;
        (void)kvsim::encodeRead(snapshot.profile, request);
    }
    return 0;
}
