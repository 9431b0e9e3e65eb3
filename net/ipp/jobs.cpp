// The job list from Get-Jobs, and the 16-bit numbers it shows for job ids.
//
// Job record fields: byte 0 job-state - 2 (pending 3 -> 1 ... completed 9 ->
// 7), byte 4 job-priority as IPP gives it (1-100, higher first: the library
// shows the byte as it is), word 5 copies, long 21 job-k-octets x 1024 (the
// size in bytes), long 25 job-impressions, long 29 job-impressions-completed,
// info1 "JN=<job-name>;UR=<job-originating-user-name>". An attribute the
// printer leaves out gives 0 (an empty name).
#include <algorithm>
#include <set>

#include "fill.h"

namespace kvnet::ipp {
namespace {

constexpr int32_t kMaxNumber = 0xFFFF;
constexpr int32_t kStateOffset = 2;   // job-state 3..9 -> byte 0 1..7
constexpr int32_t kFirstState = 3, kLastState = 9;
constexpr int32_t kMaxPriority = 100;

// Texts in info1, which is counted by one byte: "JN=" name ";UR=" user.
constexpr size_t kMaxJobName = 180, kMaxUserName = 64;

// The job list reply: its head (block length, block 00 01, a 16-bit count,
// two zero bytes), then per job a 16-bit length and the record of 43 bytes
// and its two texts. The count never binds: the library reads replies of at
// most 64000 bytes (the transport's leading byte included), about 1400 jobs
// without names, so that size is what the list is cut to.
constexpr size_t kListHead = 7;
constexpr size_t kJobBytes = 2 + 43;
constexpr size_t kLibraryMaxReply = 64000;
constexpr size_t kLeadingByte = 1;

uint32_t clampedU32(int64_t n) { return static_cast<uint32_t>(std::clamp<int64_t>(n, 0, UINT32_MAX)); }

// A name for a job-information item: ISO 8859-1, without the item's separators.
std::string infoText(const std::string& utf8, size_t max) {
    std::string text = latin1Line(utf8, max);
    std::replace(text.begin(), text.end(), ';', '_');
    std::replace(text.begin(), text.end(), '=', '_');
    return text;
}

kvsim::Job jobRecord(const Attributes& job, uint16_t number) {
    kvsim::Job j;
    j.number = number;
    const int32_t state = numberOf(job, "job-state", 0);
    j.byte0 = state >= kFirstState && state <= kLastState ? static_cast<uint8_t>(state - kStateOffset) : 0;
    j.priority = static_cast<uint8_t>(std::clamp(numberOf(job, "job-priority", 0), 0, kMaxPriority));
    j.word5 = static_cast<uint16_t>(std::clamp(numberOf(job, "copies", 0), 0, 0xFFFF));
    j.long21 = clampedU32(int64_t{numberOf(job, "job-k-octets", 0)} * 1024);
    j.long25 = clampedU32(numberOf(job, "job-impressions", 0));
    j.long29 = clampedU32(numberOf(job, "job-impressions-completed", 0));
    j.info1 = "JN=" + infoText(textOf(job, "job-name"), kMaxJobName) + ";UR=" +
              infoText(textOf(job, "job-originating-user-name"), kMaxUserName);
    return j;
}

}  // namespace

uint16_t JobNumbers::numberOf(int32_t jobId) {
    if (auto it = m_numbers.find(jobId); it != m_numbers.end()) return it->second;
    uint16_t number = 0;
    if (jobId >= 1 && jobId <= kMaxNumber && m_ids.count(static_cast<uint16_t>(jobId)) == 0) {
        number = static_cast<uint16_t>(jobId);
    } else {
        for (int tries = 0; tries < kMaxNumber && number == 0; ++tries) {
            const uint16_t candidate = m_next;
            m_next = m_next == 1 ? kMaxNumber : static_cast<uint16_t>(m_next - 1);
            if (m_ids.count(candidate) == 0) number = candidate;
        }
        if (number == 0) return 0;
    }
    m_numbers[jobId] = number;
    m_ids[number] = jobId;
    return number;
}

std::optional<int32_t> JobNumbers::jobIdOf(uint16_t number) const {
    auto it = m_ids.find(number);
    return it == m_ids.end() ? std::nullopt : std::optional<int32_t>(it->second);
}

void JobNumbers::keepOnly(const std::vector<int32_t>& listed) {
    const std::set<int32_t> keep(listed.begin(), listed.end());
    for (auto it = m_numbers.begin(); it != m_numbers.end();) {
        if (keep.count(it->first) != 0) {
            ++it;
            continue;
        }
        m_ids.erase(it->second);
        it = m_numbers.erase(it);
    }
}

void fillJobs(const std::vector<Attributes>& jobs, JobNumbers& numbers, Snapshot* snapshot) {
    std::vector<int32_t> listed;
    for (const Attributes& job : jobs)
        if (int32_t id = ipp::numberOf(job, "job-id", 0); id > 0) listed.push_back(id);
    numbers.keepOnly(listed);
    // Ids that can keep their own number take it before any alias is made.
    for (int32_t id : listed)
        if (id <= kMaxNumber) numbers.numberOf(id);

    auto& list = snapshot->profile.jobs;
    list.clear();
    std::set<int32_t> seen;
    size_t replyBytes = kLeadingByte + kListHead;
    for (const Attributes& job : jobs) {
        const int32_t id = ipp::numberOf(job, "job-id", 0);
        if (id <= 0 || !seen.insert(id).second) {
            snapshot->note("a job without a job-id of its own left out");
            continue;
        }
        kvsim::Job record = jobRecord(job, numbers.numberOf(id));
        if (record.number == 0) continue;
        const size_t bytes = kJobBytes + record.info1.size() + record.info2.size();
        if (replyBytes + bytes > kLibraryMaxReply) {
            snapshot->note("job list cut at " + std::to_string(list.size()) + " jobs (the library's largest reply)");
            break;
        }
        replyBytes += bytes;
        list.push_back(std::move(record));
    }
    snapshot->answer(kvbidi::kQueryJobs);
}

}  // namespace kvnet::ipp
