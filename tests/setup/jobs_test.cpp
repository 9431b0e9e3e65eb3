#include <gtest/gtest.h>

#include <memory>
#include <tuple>

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

// The alert holds a short record: the fields behind jobLong17 stay as they were.
TEST(JobTransitionAlert, DecodesTheShortRecordAndRefusesBadAlerts) {
    const Bytes record = jobRecord(5, false);
    const std::tuple<ByteVec, long, unsigned short> cases[] = {   // alert, result, job number afterwards (77 untouched)
        {Bytes().raw({0x03, 0x20}).raw(record).u8(0xEE), 0, 5},
        {Bytes().raw({0x03, 0x21}).raw(record), -2, 77},
        {Bytes().raw({0x03, 0x20}).raw(record.first(record.size() - 1)), -2, 77},
        {Bytes{0x03}, -2, 77},
        {Bytes().raw({0x03, 0x20}).raw(jobRecord(0, false)), -2, 0},   // job number 0 clears the record
    };
    for (const auto& [data, rc, number] : cases) {
        PrinterRig rig;
        rig.printer.setAlert(4, data);
        KVPrtObj::KVPJOBDATA job;
        job.jobNumber = 77;
        job.jobLong21 = 99;
        job.strJobJN = "keep";
        EXPECT_EQ(rig.obj.bidiQueryJobTranAlert(4, &job), rc) << toHex(data);
        EXPECT_EQ(std::tuple(rig.printer.alertFlags().back(), job.jobNumber, job.strJobJN),
                  std::tuple(2, number, std::string(number == 77 ? "keep" : "")));
        if (rc == 0) {
            EXPECT_EQ(std::tuple(job.jobLong17, job.jobLong21), std::tuple(0x11121314u, 99u));
        }
    }
    PrinterRig rig;
    EXPECT_EQ(rig.obj.bidiQueryJobTranAlert(4, nullptr), -18);
}
