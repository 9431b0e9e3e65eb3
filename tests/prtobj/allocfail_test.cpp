// Allocations that fail, in every subsystem: the global operator new of this
// program fails on request (kvtest_allocfail). Each row fails the allocations
// of one size during one call and checks its result and what it hands back.
#include <gtest/gtest.h>

#include <functional>
#include <new>

#include "alert_list.h"
#include "alloc_failure.h"
#include "kvprtobj/helpers.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

// What new T[n] asks of operator new[]: the records and the count before them.
template <typename T>
size_t arrayBytes(size_t n) {
    return n * sizeof(T) + sizeof(size_t);
}

struct Case {
    const char* what;
    ByteVec answer;    // every request's reply
    size_t failing;    // the size whose allocations fail
    long rc;
    std::function<long(PrinterRig&)> call;   // checks what the call hands back
};

void* const kGiven = reinterpret_cast<void*>(1);

}  // namespace

TEST(AllocationFailure, EveryCallGivesItsResultAndNoHalfMadeOutput) {
    unsigned int n = 0;
    unsigned short s = 0;
    const Case cases[] = {
        {"first reply buffer: nothing sent", {}, 2048, -18, [](PrinterRig& rig) {
             void* data = kGiven;
             unsigned long length = 0;
             long rc = rig.obj.bidiQuery(0x10, nullptr, 0, &data, &length, 1, 0);
             EXPECT_EQ(rig.printer.requestCount(), 0u);
             EXPECT_EQ(rig.obj.isBidiActive(), 1);
             return rc;
         }},
        {"growth stops at once", {}, 8192, -18, [](PrinterRig& rig) {
             rig.obj.setBidiRetryCount(3);
             rig.printer.setDefault(fail(-18));
             void* data = kGiven;
             unsigned long length = 0;
             long rc = rig.obj.bidiQuery(0x10, nullptr, 0, &data, &length, 1, 1);
             EXPECT_EQ(data, nullptr);
             EXPECT_EQ(rig.printer.requestCount(), 2u);   // 2048 and 4096, no further attempt
             return rc;
         }},
        {"alert buffer: nothing read", {}, 2048, -18, [](PrinterRig& rig) {
             void* data = nullptr;
             unsigned long length = 0;
             long rc = rig.obj.bidiQueryAlert(4, 0x5F4, &data, &length, 2);
             EXPECT_TRUE(rig.printer.alertQueries().empty());
             return rc;
         }},
        {"alert copy", {}, 777, -18, [](PrinterRig& rig) {
             rig.printer.setAlert(4, ByteVec(777, 1));
             void* data = kGiven;
             unsigned long length = 0;
             long rc = rig.obj.bidiQueryAlert(4, 0x5F4, &data, &length, 2);
             EXPECT_EQ(data, nullptr);
             return rc;
         }},
        {"variable request: nothing sent", {}, 1002, -18, [](PrinterRig& rig) {
             unsigned char id[2] = {1, 2}, value[1000] = {};
             long rc = rig.obj.bidiSetOMVar(id, value, sizeof value);
             EXPECT_EQ(rig.printer.requestCount(), 0u);
             return rc;
         }},
        {"variable copy", Bytes().u8(0).raw({1, 2}).fill(500, 7), 502, -18, [](PrinterRig& rig) {
             unsigned char id[2] = {1, 2};
             void* out = kGiven;
             unsigned long length = 0;
             long rc = rig.obj.bidiReadOMVar(id, &out, &length);
             EXPECT_EQ(out, nullptr);
             return rc;
         }},
        {"input bins", Bytes().u8(3).zeros(3 * 32), arrayBytes<KVPrtObj::INPUTBIN>(3), -18, [&](PrinterRig& rig) {
             KVPrtObj::INPUTBIN* bins = nullptr;
             long rc = rig.obj.bidiGetInputChars(&n, &bins);
             EXPECT_EQ(std::pair(bins, n), std::pair<KVPrtObj::INPUTBIN*, unsigned>(nullptr, 3));
             return rc;
         }},
        {"output bins", Bytes().u8(3).zeros(27), arrayBytes<KVPrtObj::OUTPUTBIN>(3), -18, [&](PrinterRig& rig) {
             KVPrtObj::OUTPUTBIN* bins = nullptr;
             long rc = rig.obj.bidiGetOutputChars(&n, &bins);
             EXPECT_EQ(std::pair(bins, n), std::pair<KVPrtObj::OUTPUTBIN*, unsigned>(nullptr, 3));
             return rc;
         }},
        {"fonts: the count of fonts decoded", Bytes().u8(0).be16(3).u8(0).zeros(12), arrayBytes<_FONTDETAILS>(3), -18,
         [&](PrinterRig& rig) {
             _FONTDETAILS* fonts = nullptr;
             long rc = rig.obj.bidiGetFontDetails(0, 0, &s, &fonts);
             EXPECT_EQ(std::pair(fonts, s), std::pair<_FONTDETAILS*, unsigned short>(nullptr, 0));
             return rc;
         }},
        {"symbol sets", Bytes().u8(0).be16(3).zeros(33), arrayBytes<_SYMBOLSET>(3), -18, [&](PrinterRig& rig) {
             _SYMBOLSET* sets = nullptr;
             long rc = rig.obj.bidiGetSymbolSetList(&s, &sets);
             EXPECT_EQ(std::pair(sets, s), std::pair<_SYMBOLSET*, unsigned short>(nullptr, 3));
             return rc;
         }},
        {"jobs", Bytes().u8(0).be16(2).zeros(2).be16(3).raw({0, 0, 1}).be16(3).raw({0, 0, 2}),
         arrayBytes<KVPrtObj::KVPJOBDATA>(2), -18, [&](PrinterRig& rig) {
             KVPrtObj::KVPJOBDATA* jobs = static_cast<KVPrtObj::KVPJOBDATA*>(kGiven);
             long rc = rig.obj.bidiQueryJobs(0, &n, &jobs);
             EXPECT_EQ(std::pair(jobs, n), std::pair<KVPrtObj::KVPJOBDATA*, unsigned>(nullptr, 0));
             return rc;
         }},
        {"code levels: the working copy", Bytes().u8(0).raw({0, 0xA6}).text("ENG: 1.2.3.4.5.6.7.8.9.10.11.12\n"), 34, -2,
         [](PrinterRig& rig) {
             int count = 7;
             KVPrtObj::CODELEVELS* array = nullptr;
             long rc = rig.obj.bidiGetCodeLevels(count, &array);
             EXPECT_EQ(std::pair(array, count), std::pair<KVPrtObj::CODELEVELS*, int>(nullptr, 7));
             return rc;
         }},
        // Counts the reply cannot hold (found by fuzzing) cost no more than the
        // reply: the arrays those counts would need are never asked for.
        {"font count", Bytes().u8(0).be16(0xFFFF).u8(0).raw({1, 0, 0, 0}), arrayBytes<_FONTDETAILS>(0xFFFF), -2,
         [&](PrinterRig& rig) {
             _FONTDETAILS* fonts = nullptr;
             long rc = rig.obj.bidiGetFontDetails(0, 0, &s, &fonts);   // the second record is missing
             EXPECT_EQ(s, 1);
             delete[] fonts;
             return rc;
         }},
        {"symbol-set count", Bytes().u8(0).be16(0xFFFF).zeros(11), arrayBytes<_SYMBOLSET>(0xFFFF), -2,
         [&](PrinterRig& rig) {
             _SYMBOLSET* sets = nullptr;
             return rig.obj.bidiGetSymbolSetList(&s, &sets);
         }},
        {"job count", Bytes().u8(0).be16(0xFFFF).zeros(2).be16(3).raw({0, 0, 0}),
         arrayBytes<KVPrtObj::KVPJOBDATA>(0xFFFF), 0, [&](PrinterRig& rig) {   // job number 0 ends the list
             KVPrtObj::KVPJOBDATA* jobs = nullptr;
             long rc = rig.obj.bidiQueryJobs(0, &n, &jobs);
             EXPECT_EQ(n, 0u);
             delete[] jobs;
             return rc;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrinterRig rig;
        if (!c.answer.empty()) rig.printer.setHandler([a = c.answer](const SentRequest&) { return reply(a); });
        failAllocationsOfSize(c.failing);
        long rc = c.call(rig);
        stopAllocationFailures();
        EXPECT_EQ(rc, c.rc);
    }

    failAllocationsOfSize(333);
    EXPECT_EQ(kvPrtObjNew(333), nullptr);
    stopAllocationFailures();
}

// Exhaustion while an alert list grows reaches the caller as std::bad_alloc;
// the entries added before stay in the list.
TEST(AllocationFailure, AlertListGrowthThrowsAndKeepsTheEntries) {
    PrinterRig rig;
    rig.printer.answer(6, reply(hex("03 04 FF FF 00  02 FF FF 00  01 FF 01 00")));
    unsigned count = 0;
    KVPrtObj::KVPALERTDATA* list = nullptr;
    failAllocationsOfSize(3 * sizeof(KVPrtObj::KVPALERTDATA));
    EXPECT_THROW(rig.obj.bidiQueryPaperJams(&count, &list), std::bad_alloc);
    stopAllocationFailures();
    EXPECT_EQ(takeList(list, count), (Alerts{{6107}, {6106}}));
}
