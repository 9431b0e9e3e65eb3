// Page counts, variables, ports, jobs, custom names and toner information.
#include "encoders.h"
#include "records.h"

namespace kvsim::encode {
namespace {

Writer& putIdEcho(Writer& w, uint16_t id) { return w.u8(0x00).be16(id); }

// A one-variable read: the id echoed, then the value from `store`.
Reply readFrom(const std::vector<Variable>& store, const Request& r) {
    if (r.length != 2) return invalidRequest();
    uint16_t id = be16At(r, 0);
    for (const Variable& v : store) {
        if (v.id != id) continue;
        Writer w;
        putIdEcho(w, id).raw(v.value.data(), v.value.size());
        return replyWith(w);
    }
    return invalidRequest();
}

// The block that leads the job list (its length byte, then the bytes the
// library skips).
constexpr uint8_t kJobListBlock[] = {0x00, 0x01};

}  // namespace

Reply pageCounts(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(s.pageCounts.size()));
    for (const PageCount& c : s.pageCounts) w.u8(c.type).be32(c.count);
    return replyWith(w);
}

// Loop-back: the request bytes come back as they were sent.
Reply loopBack(const Profile&, const Request& r) { return replyWith(Bytes(r.data, r.data + r.length)); }

Reply readVariable(const Profile& s, const Request& r) { return readFrom(s.variables, r); }

Reply readMiscVariable(const Profile& s, const Request& r) { return readFrom(s.miscVariables, r); }

// Several variables: the records of the ids the printer has, in request
// order; unknown ids are left out.
Reply readVariables(const Profile& s, const Request& r) {
    if (r.length < 1 || r.length != 1 + 2u * r.data[0]) return invalidRequest();
    Writer w;
    w.u8(0x00);
    for (size_t i = 0; i < r.data[0]; ++i) {
        uint16_t id = be16At(r, 1 + 2 * i);
        const Bytes* value = findVariable(s, id);
        if (value == nullptr) continue;
        w.be16(id).u8(static_cast<unsigned>(value->size())).raw(value->data(), value->size());
    }
    return replyWith(w);
}

Reply availablePorts(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(s.ports.size())).raw(s.ports.data(), s.ports.size());
    return replyWith(w);
}

// 5 request bytes: FF, the job number (0 for all), 00, 40 or 01.
Reply queryJobs(const Profile& s, const Request& r) {
    if (r.length != 5 || r.data[0] != 0xFF || r.data[3] != 0x00) return invalidRequest();
    uint16_t number = be16At(r, 1);
    std::vector<const Job*> listed;
    for (const Job& j : s.jobs)
        if (number == 0 || j.number == number) listed.push_back(&j);
    Writer w;
    w.u8(sizeof kJobListBlock).raw(kJobListBlock, sizeof kJobListBlock);
    w.be16(static_cast<unsigned>(listed.size())).be16(0);
    for (const Job* j : listed) {
        Bytes record = jobRecord(*j, true);
        w.be16(static_cast<unsigned>(record.size())).raw(record.data(), record.size());
    }
    return replyWith(w);
}

// Request 0x8E the bin nicknames, 0x8F the form names: a byte, the count, and
// entries of number, name length and name.
Reply customNames(const Profile& s, const Request& r) {
    if (r.length != 0) return invalidRequest();
    const auto& names = r.code == kvbidi::kOutputBinNicknames ? s.binNicknames : s.formNames;
    Writer w;
    w.u8(0x00).u8(static_cast<unsigned>(names.size()));
    for (const CustomName& n : names) counted(w.u8(n.number), n.name);
    return replyWith(w);
}

Reply tonerInfo(const Profile& s, const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    Bytes data = tonerData(s.toner);
    Writer w;
    w.u8(0x02).raw(data.data(), data.size());
    return replyWith(w);
}

}  // namespace kvsim::encode
