#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "scripted_printer.h"

using namespace kvtest;

namespace {

// A job record: fields 0..20 hold distinct values derived from `number`; a
// full record adds the five 32-bit values and the two job-information texts.
Bytes jobRecord(unsigned number, bool full = true, const std::string& first = "", const std::string& second = "") {
    Bytes b;
    b.u8(0xB0).be16(number).u8(0xB3).u8(0xB4).be16(0x0506).be16(0x0708).raw({9, 10, 11, 12}).u8(0xBD);
    b.zeros(3).be32(0x11121314);
    if (full) b.be32(21).be32(25).be32(29).be32(33).be32(0xFFFFFFF7).counted(first).counted(second);
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

TEST(QueryJobs, DecodesFullRecordsUntilJobNumberZero) {
    PrinterRig rig;
    rig.printer.answer(0x75, jobList(3, {jobRecord(0x0102, true, "HT=a;JN=b", "UR=c;LS=d"), jobRecord(9), jobRecord(0)},
                                     Bytes{1, 2, 3}));
    auto r = query(rig);
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.count, 2u);
    const auto& j = r.jobs[0];
    EXPECT_EQ(std::make_tuple(j.jobByte0, j.jobNumber, j.jobByte3, j.jobByte4, j.jobWord5, j.jobWord7, j.jobByte13),
              std::make_tuple(0xB0, 0x0102, 0xB3u, 0xB4, 0x0506, 0x0708, 0xBD));
    EXPECT_EQ(toHex(j.jobBytes9, 4), "09 0A 0B 0C");
    EXPECT_EQ(std::make_tuple(j.jobLong17, j.jobLong21, j.jobLong25, j.jobLong29, j.jobLong33, j.jobLong37),
              std::make_tuple(0x11121314u, 21u, 25u, 29u, 33u, 0xFFFFFFF7u));
    EXPECT_EQ(j.strJobJN + "|" + j.strJobUR, "b|c");
    EXPECT_EQ(r.jobs[1].jobNumber, 9);
    EXPECT_EQ(r.jobs[1].strJobJN, "");
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
        EXPECT_EQ(r.rc, -2) << cut;
        EXPECT_EQ(r.count, 0u);
        EXPECT_EQ(r.jobs, nullptr);
    }
    PrinterRig rig;   // a record shorter than its fields, inside a whole reply
    rig.printer.answer(0x75, jobList(1, {jobRecord(1, false)}));
    EXPECT_EQ(query(rig).rc, -2);
}

TEST(Jobs, DeleteAndPriority) {
    PrinterRig rig;
    EXPECT_EQ(rig.obj.bidiDeleteJob(0x0107, 0), 0);
    auto sent = rig.printer.lastRequest();
    EXPECT_EQ(std::tuple(sent.code, sent.data, sent.capacity), std::tuple(0x76, hex("01 07"), 0ul));
    EXPECT_EQ(rig.obj.bidiDeleteJob(7, 2), 0);
    EXPECT_EQ(rig.printer.lastRequest().code, 0x77);

    rig.printer.answer(0x98, Bytes{0x2A, 0x00});
    unsigned char answer = 0xFF;
    EXPECT_EQ(rig.obj.bidiChangeJobPriority(5, 7, &answer), 0);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("05 00 07"));
    EXPECT_EQ(answer, 0x2A);

    PrinterRig failing;
    failing.printer.answer(0x98, fail(-3));
    EXPECT_EQ(failing.obj.bidiChangeJobPriority(5, 7, &answer), -3);
    EXPECT_EQ(answer, 0);
}

TEST(JobTransitionAlert, DecodesTheShortRecord) {
    PrinterRig rig;
    rig.printer.setAlert(4, Bytes().raw({0x03, 0x20}).raw(jobRecord(0x0203, false)).u8(0xEE));
    KVPrtObj::KVPJOBDATA job;
    job.jobLong21 = 99;
    ASSERT_EQ(rig.obj.bidiQueryJobTranAlert(4, &job), 0);
    EXPECT_EQ(rig.printer.alertFlags().back(), 2);
    EXPECT_EQ(std::tuple(job.jobNumber, job.jobLong17, job.jobLong21),
              std::tuple(0x0203, 0x11121314u, 99u));   // 21: not in it
    EXPECT_EQ(rig.obj.bidiQueryJobTranAlert(4, nullptr), -18);
}

TEST(JobTransitionAlert, BadAlertsGiveBadReply) {
    const Bytes record = jobRecord(5, false);
    const struct {
        ByteVec data;
        bool untouched;
    } cases[] = {
        {Bytes().raw({0x03, 0x21}).raw(record), true},
        {Bytes().raw({0x03, 0x20}).raw(record.first(record.size() - 1)), true},
        {Bytes{0x03}, true},
        {Bytes().raw({0x03, 0x20}).raw(jobRecord(0, false)), false},   // job number 0
    };
    for (const auto& c : cases) {
        PrinterRig rig;
        rig.printer.setAlert(4, c.data);
        KVPrtObj::KVPJOBDATA job;
        job.jobNumber = 77;
        job.strJobJN = "keep";
        EXPECT_EQ(rig.obj.bidiQueryJobTranAlert(4, &job), -2) << toHex(c.data);
        EXPECT_EQ(job.jobNumber, c.untouched ? 77 : 0);
        EXPECT_EQ(job.strJobJN, c.untouched ? "keep" : "");
    }
}
