#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <tuple>

#include "golden.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

// A job record: fields 0..20 hold distinct values derived from `number`; a
// full record adds the five 32-bit values and two empty job-information texts.
Bytes jobRecord(unsigned number, bool full = true) {
    Bytes b;
    b.u8(0xB0).be16(number).u8(0xB3).u8(0xB4).be16(0x0506).be16(0x0708).raw({9, 10, 11, 12}).u8(0xBD);
    b.zeros(3).be32(0x11121314);
    if (full) b.be32(21).be32(25).be32(29).be32(33).be32(0xFFFFFFF7).counted("").counted("");
    return b;
}

// A job list: `skipped` bytes behind their length, the count, two unused bytes, the records.
Bytes jobList(unsigned count, std::initializer_list<Bytes> records, const Bytes& skipped = {}) {
    Bytes b;
    b.u8(static_cast<unsigned>(skipped.size())).raw(skipped).be16(count).zeros(2);
    for (const auto& r : records) b.be16(static_cast<unsigned>(r.size())).raw(r);
    return b;
}

struct Jobs {
    long rc = 0;
    unsigned count = 0;
    std::unique_ptr<KVPrtObj::KVPJOBDATA[]> jobs;
};

Jobs query(PrinterRig& rig, unsigned short number = 0) {
    Jobs j;
    KVPrtObj::KVPJOBDATA* array = reinterpret_cast<KVPrtObj::KVPJOBDATA*>(0x1);
    j.rc = rig.obj.bidiQueryJobs(number, &j.count, &array);
    j.jobs.reset(array);
    return j;
}

// An alert in hex read into a job numbered 77 with long 21 99 and JN "keep":
// the result, the alert's flag and the job's fields (hex) on one line.
std::string transition(const std::string& alert) {
    PrinterRig rig;
    rig.printer.setAlert(4, hex(alert));
    KVPrtObj::KVPJOBDATA j;
    j.jobNumber = 77;
    j.jobLong21 = 99;
    j.strJobJN = "keep";
    std::ostringstream out;
    out << rig.obj.bidiQueryJobTranAlert(4, &j) << " flag " << rig.printer.alertFlags().back() << std::hex
        << std::uppercase << " | " << +j.jobByte0 << " " << j.jobNumber << " " << j.jobByte3 << " " << +j.jobByte4
        << " " << j.jobWord5 << " " << j.jobWord7 << " " << toHex(j.jobBytes9, 4) << " " << +j.jobByte13 << " "
        << j.jobLong17 << " " << j.jobLong21 << " '" << j.strJobJN << "'";
    return out.str();
}

}  // namespace

// Field decoding is checked end to end by the simulator round trip.
TEST(QueryJobs, SkipsTheLeadingTextAndStopsAtJobNumberZero) {
    PrinterRig rig;
    rig.printer.answer(0x75, jobList(3, {jobRecord(0x0102), jobRecord(9), jobRecord(0)}, Bytes{1, 2, 3}));
    auto r = query(rig);
    ASSERT_EQ(std::tuple(r.rc, r.count), std::tuple(0l, 2u));
    EXPECT_EQ(std::tuple(r.jobs[0].jobNumber, r.jobs[1].jobNumber), std::tuple(0x0102, 9));
    EXPECT_EQ(rig.printer.lastRequest().data, hex("FF 00 00 00 40"));

    rig.printer.answer(0x75, jobList(0, {}));   // one job asked for, none there
    r = query(rig, 7);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("FF 00 07 00 01"));
    EXPECT_EQ(std::tuple(r.rc, r.count, r.jobs.get()), std::tuple(0l, 0u, nullptr));
}

TEST(QueryJobs, ShortRepliesHandOverNothing) {
    const Bytes list = jobList(2, {jobRecord(1), jobRecord(2)});
    for (size_t cut : {size_t(0), size_t(2), size_t(4), size_t(50), list.size() - 1}) {
        PrinterRig rig;
        rig.printer.answer(0x75, list.first(cut));
        auto r = query(rig);
        EXPECT_EQ(std::tuple(r.rc, r.count, r.jobs.get()), std::tuple(-2l, 0u, nullptr)) << cut;
    }
    PrinterRig rig;   // a record shorter than its fields, inside a whole reply
    rig.printer.answer(0x75, jobList(1, {jobRecord(1, false)}));
    EXPECT_EQ(query(rig).rc, -2);
}

// Delete without flag and a changed priority run end to end in the round trip.
TEST(Jobs, FlaggedDeleteWantsNoReplyAndAFailedPriorityChangeAnswersZero) {
    PrinterRig rig;
    EXPECT_EQ(rig.obj.bidiDeleteJob(0x0107, 2), 0);
    auto sent = rig.printer.lastRequest();
    EXPECT_EQ(std::tuple(sent.code, sent.data, sent.capacity), std::tuple(0x77, hex("01 07"), 0ul));
    rig.printer.answer(0x98, fail(-3));
    unsigned char answer = 0xFF;
    EXPECT_EQ(rig.obj.bidiChangeJobPriority(5, 7, &answer), -3);
    EXPECT_EQ(answer, 0);
}

// Alerts of short records; the fields behind jobLong17 stay as they were.
TEST(JobTransitionAlert, DecodesTheShortRecordAndRefusesBadAlerts) {
    expectGolden(KVPO_SETUP_DIR "/job_alerts.golden", transition);
    PrinterRig rig;
    EXPECT_EQ(rig.obj.bidiQueryJobTranAlert(4, nullptr), -18);
}
