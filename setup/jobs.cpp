// Print jobs: the job list, deleting a job, changing its priority, the job
// record of a job-transition alert, and the job record decoder they share.
#include <utility>

#include "kvprtobj/jobs.h"
#include "engine/wire/frame.h"
#include "prtobj/internal/ask.h"

namespace {

// Results of ParseJobData.
constexpr int kJobTaken = 1;
constexpr int kJobListEnd = 0;   // job number 0
constexpr int kJobCut = -1;      // the record ends before a field it must hold

constexpr unsigned char kJobTransitionMark[] = {0x03, 0x20};   // what a job transition alert begins with

constexpr size_t kShortestJob = 2 + 3;   // length, byte 0, job number

}  // namespace

// Request 0x75 for one job or, with job number 0, for all. *jobs receives a
// new array (delete[]) of as many slots as the reply announces (but no more
// than the reply could hold jobs: one per 5 bytes, and one), *count the
// jobs decoded; a job number 0 ends the list. A reply that ends before the
// jobs it announces, or holds a job record too short for its fields, gives
// -2 with count 0 and no array. Null output pointers give -18 and nothing
// is sent.
long KVPrtObj::bidiQueryJobs(unsigned short jobNumber, unsigned int* count, KVPJOBDATA** jobs) {
    if (count == nullptr || jobs == nullptr) return kvpo::kNullArgument;
    *count = 0;
    *jobs = nullptr;
    auto request = kvwire::Writer().u8(0xFF).be16(jobNumber).u8(0x00).u8(jobNumber == 0 ? 0x40 : 0x01).take();
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kQueryJobs, request);
    if (!reply) return rc;

    // A length byte and that many bytes skipped, the job count, two unused
    // bytes, then the jobs, each a 16-bit length and that many record bytes.
    auto r = reply.reader();
    r.skip(r.u8());
    const unsigned announced = r.be16();
    r.skip(2);
    if (!r.ok()) return kvpo::kShortReply;
    if (announced == 0) return BCE_OK;

    // Each job takes at least its 2 length bytes and a 3-byte record (byte 0
    // and the job number; a shorter record ends the walk).
    auto array = kvpo::newRecords<KVPJOBDATA>(announced, r.remaining(), kShortestJob);
    if (!array) return BCE_E_NO_MEMORY;
    unsigned decoded = 0;
    while (decoded < announced) {
        auto record = r.sub(r.be16());
        if (!r.ok()) return kvpo::kShortReply;
        int taken = ParseJobData(&array[decoded], record.here(), record.size(), 0);
        if (taken == kJobCut) return kvpo::kShortReply;
        if (taken == kJobListEnd) break;   // job number 0 ends the list
        ++decoded;
    }
    *jobs = array.release();
    *count = decoded;
    return BCE_OK;
}

long KVPrtObj::bidiDeleteJob(unsigned short jobNumber, int flag) {
    auto request = kvwire::Writer().be16(jobNumber).take();
    return kvpo::tell(*this, flag == 0 ? kvbidi::kDeleteJob : kvbidi::kDeleteJobFlagged, request);
}

long KVPrtObj::bidiChangeJobPriority(unsigned char priority, unsigned short jobNumber, unsigned char* answer) {
    if (answer == nullptr) return kvpo::kNullArgument;
    *answer = 0;
    auto request = kvwire::Writer().u8(priority).be16(jobNumber).take();
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kChangeJobPriority, request);
    if (reply) {
        auto r = reply.reader();
        uint8_t first = r.u8();
        if (r.ok()) *answer = first;
    }
    return rc;
}

long KVPrtObj::bidiQueryJobTranAlert(unsigned short alertId, void* job) {
    if (job == nullptr) return kvpo::kNullArgument;
    auto [rc, alert] = kvpo::readAlert(*this, alertId, kvbidi::kJobTransitionAlert);
    if (!alert) return rc;
    auto r = alert.reader();
    if (!r.mark(kJobTransitionMark)) return kvpo::kNoEcho;
    return ParseJobData(static_cast<KVPJOBDATA*>(job), r.here(), r.remaining(), 1) == kJobTaken ? BCE_OK : kvpo::kShortReply;
}

int KVPrtObj::ParseJobData(KVPJOBDATA* job, unsigned char* record, int bShortRecord) {
    return ParseJobData(job, record, kMaxJobRecord, bShortRecord);
}

int KVPrtObj::ParseJobData(KVPJOBDATA* job, const unsigned char* record, unsigned long length, int bShortRecord) {
    // Decoded into a copy, which replaces the job only when the record held
    // every field it must hold.
    kvpo::ReplyReader r(record, length);
    KVPJOBDATA d = *job;
    d.strJobJN.clear();
    d.strJobUR.clear();
    d.jobByte0 = r.u8();
    d.jobNumber = r.be16();
    if (!r.ok()) return kJobCut;
    if (d.jobNumber == 0) {
        *job = std::move(d);
        return kJobListEnd;
    }
    d.jobByte3 = r.u8();
    d.jobByte4 = r.u8();
    d.jobWord5 = r.be16();
    d.jobWord7 = r.be16();
    r.raw(d.jobBytes9, sizeof d.jobBytes9);
    d.jobByte13 = r.u8();
    r.skip(3);
    d.jobLong17 = r.be32();
    if (!bShortRecord) {
        d.jobLong21 = r.be32();
        d.jobLong25 = r.be32();
        d.jobLong29 = r.be32();
        d.jobLong33 = r.be32();
        d.jobLong37 = r.be32();
        // Two counted job-information texts, split into one set of items.
        uint8_t firstLength = r.u8();
        auto first = r.sub(firstLength);
        uint8_t secondLength = r.u8();
        auto second = r.sub(secondLength);
        if (r.ok()) {
            JOBINFOSTRINGS info;
            info.parseJobInfo(firstLength, reinterpret_cast<const char*>(first.here()));
            info.parseJobInfo(secondLength, reinterpret_cast<const char*>(second.here()));
            if (!info.strJN.empty()) d.strJobJN = info.strJN;
            if (!info.strUR.empty()) d.strJobUR = info.strUR;
        }
    }
    if (!r.ok()) return kJobCut;
    *job = std::move(d);
    return kJobTaken;
}
