// Jobs, form names and bin nicknames, toner information.
#include <algorithm>

#include "alert_data.h"
#include "records.h"
#include "requests.h"

namespace kvsim {
namespace {

// The block that leads the job list (its length byte, then the bytes the
// library skips).
constexpr uint8_t kJobListBlock[] = {0x00, 0x01};

constexpr uint8_t kPriorityChanged = 0x00, kNoSuchJob = 0x01;

}  // namespace

// 5 request bytes: FF, the job number (0 for all), 00, 40 or 01.
Reply Machine::queryJobs(const Request& r) {
    if (r.length != 5 || r.data[0] != 0xFF || r.data[3] != 0x00) return invalidRequest();
    uint16_t number = be16At(r, 1);
    std::vector<const Job*> listed;
    for (const Job& j : m_jobs)
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

// The job is gone; a job-transition alert carries its record.
Reply Machine::deleteJob(const Request& r) {
    if (r.length != 2) return invalidRequest();
    uint16_t number = be16At(r, 0);
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(), [&](const Job& j) { return j.number == number; });
    if (it == m_jobs.end()) return invalidRequest();
    raise(kFamilyJobTransition, jobTransitionAlert(*it));
    m_jobs.erase(it);
    return done();
}

// Answer byte 0 when the priority changed, 1 when there is no such job.
Reply Machine::changeJobPriority(const Request& r) {
    if (r.length != 3) return invalidRequest();
    uint16_t number = be16At(r, 1);
    for (Job& j : m_jobs) {
        if (j.number != number) continue;
        j.priority = r.data[0];
        raise(kFamilyJobTransition, jobTransitionAlert(j));
        return replyWith(Bytes{kPriorityChanged});
    }
    return replyWith(Bytes{kNoSuchJob});
}

// Request 0x8E the bin nicknames, 0x8F the form names: a byte, the count, and
// entries of number, name length and name.
Reply Machine::customNames(const Request& r) {
    if (r.length != 0) return invalidRequest();
    const auto& names = r.code == 0x8E ? m_binNicknames : m_formNames;
    Writer w;
    w.u8(0x00).u8(static_cast<unsigned>(names.size()));
    for (const CustomName& n : names) counted(w.u8(n.number), n.name);
    return replyWith(w);
}

// 0x91 a form name, 0x92 a bin nickname: 01, number, length + 1, name, 00.
Reply Machine::setCustomName(const Request& r) {
    if (r.length < 4 || r.data[0] != 0x01 || r.length != 3u + r.data[2] || r.data[r.length - 1] != 0)
        return invalidRequest();
    auto& names = r.code == 0x92 ? m_binNicknames : m_formNames;
    std::string name(reinterpret_cast<const char*>(r.data + 3), r.data[2] - 1u);
    auto it = std::find_if(names.begin(), names.end(), [&](const CustomName& n) { return n.number == r.data[1]; });
    if (it != names.end())
        it->name = name;
    else if (names.size() < 255)
        names.push_back({r.data[1], name});
    else
        return invalidRequest();
    return done();
}

Reply Machine::tonerInfo(const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    Bytes data = tonerData(m_toner);
    Writer w;
    w.u8(0x02).raw(data.data(), data.size());
    return replyWith(w);
}

}  // namespace kvsim
