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
using Job = KVPrtObj::KVPJOBDATA;

namespace {

// What new T[n] asks of operator new[]: the records and the count before them.
template <typename T>
size_t arrayBytes(size_t n) {
    return n * sizeof(T) + sizeof(size_t);
}

struct Got {
    long rc;
    bool handedBack;   // a buffer or array reached the caller (released here)
    long count;        // the count the call gave, or the requests the printer saw
    bool operator==(const Got&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Got& g) {
    return out << g.rc << "/" << g.handedBack << "/" << g.count;
}

// Taken by reference: read after the call that is the first argument.
template <typename T, typename N>
Got got(long rc, T* const& array, const N& count) {
    delete[] array;
    return {rc, array != nullptr, static_cast<long>(count)};
}
void* const kUntouched = reinterpret_cast<void*>(1);
Got gotBuffer(long rc, void* data, long count) {
    if (data != kUntouched) ::operator delete(data);
    return {rc, data != nullptr, count};
}

struct Case {
    const char* what;
    ByteVec answer;   // every request's reply; none: an empty success
    size_t failing;   // the size whose allocations fail
    Got expected;
    std::function<Got(PrinterRig&)> call;
};

}  // namespace

TEST(AllocationFailure, EveryCallGivesItsResultAndNoHalfMadeOutput) {
    unsigned int n = 0;
    unsigned short s = 0;
    int levelCount = 0;
    KVPrtObj::INPUTBIN* in = nullptr;
    KVPrtObj::OUTPUTBIN* out = nullptr;
    _FONTDETAILS* fonts = nullptr;
    _SYMBOLSET* sets = nullptr;
    Job* jobs = nullptr;
    KVPrtObj::CODELEVELS* levels = nullptr;
    void* data = nullptr;
    unsigned long length = 0;
    unsigned char id[2] = {1, 2}, value[1000] = {};
    auto alert = [&](PrinterRig& r) {
        long rc = r.obj.bidiQueryAlert(4, 0x5F4, &data, &length, 2);
        return gotBuffer(rc, data, static_cast<long>(r.printer.alertQueries().size()));
    };
    const Case cases[] = {
        {"first reply buffer: nothing sent", {}, 2048, {-18, false, 0}, [&](PrinterRig& r) {
             long rc = r.obj.bidiQuery(0x10, nullptr, 0, &data, &length, 1, 0);
             return gotBuffer(rc, data, static_cast<long>(r.printer.requestCount()));
         }},
        {"growth stops at once, after 2048 and 4096", {}, 8192, {-18, false, 2}, [&](PrinterRig& r) {
             r.obj.setBidiRetryCount(3);
             r.printer.setDefault(fail(-18));
             data = kUntouched;
             long rc = r.obj.bidiQuery(0x10, nullptr, 0, &data, &length, 1, 1);
             return gotBuffer(rc, data, static_cast<long>(r.printer.requestCount()));
         }},
        {"alert buffer: nothing read", {}, 2048, {-18, false, 0}, alert},
        {"alert copy", {}, 777, {-18, false, 1}, alert},
        {"variable request: nothing sent", {}, 1002, {-18, false, 0}, [&](PrinterRig& r) {
             long rc = r.obj.bidiSetOMVar(id, value, sizeof value);
             return Got{rc, false, static_cast<long>(r.printer.requestCount())};
         }},
        {"variable copy", Bytes().u8(0).raw({1, 2}).fill(500, 7), 502, {-18, false, 1}, [&](PrinterRig& r) {
             long rc = r.obj.bidiReadOMVar(id, &data, &length);
             return gotBuffer(rc, data, static_cast<long>(r.printer.requestCount()));
         }},
        {"input bins", Bytes().u8(3).zeros(3 * 32), arrayBytes<KVPrtObj::INPUTBIN>(3), {-18, false, 3},
         [&](PrinterRig& r) { return got(r.obj.bidiGetInputChars(&n, &in), in, n); }},
        {"output bins", Bytes().u8(3).zeros(27), arrayBytes<KVPrtObj::OUTPUTBIN>(3), {-18, false, 3},
         [&](PrinterRig& r) { return got(r.obj.bidiGetOutputChars(&n, &out), out, n); }},
        {"fonts: the count of fonts decoded", Bytes().u8(0).be16(3).u8(0).zeros(12), arrayBytes<_FONTDETAILS>(3),
         {-18, false, 0}, [&](PrinterRig& r) { return got(r.obj.bidiGetFontDetails(0, 0, &s, &fonts), fonts, s); }},
        {"symbol sets", Bytes().u8(0).be16(3).zeros(33), arrayBytes<_SYMBOLSET>(3), {-18, false, 3},
         [&](PrinterRig& r) { return got(r.obj.bidiGetSymbolSetList(&s, &sets), sets, s); }},
        {"jobs", Bytes().u8(0).be16(2).zeros(2).be16(3).raw({0, 0, 1}).be16(3).raw({0, 0, 2}), arrayBytes<Job>(2),
         {-18, false, 0}, [&](PrinterRig& r) { return got(r.obj.bidiQueryJobs(0, &n, &jobs), jobs, n); }},
        {"code levels: the working copy", Bytes().u8(0).raw({0, 0xA6}).text("ENG: 1.2.3.4.5.6.7.8.9.10.11.12\n"), 34,
         {-2, false, 7},
         [&](PrinterRig& r) { return got(r.obj.bidiGetCodeLevels(levelCount, &levels), levels, levelCount); }},
        // Counts the reply cannot hold (found by fuzzing) cost no more than the
        // reply: the arrays those counts would need are never asked for.
        {"font count: the second record is missing", Bytes().u8(0).be16(0xFFFF).u8(0).raw({1, 0, 0, 0}),
         arrayBytes<_FONTDETAILS>(0xFFFF), {-2, true, 1},
         [&](PrinterRig& r) { return got(r.obj.bidiGetFontDetails(0, 0, &s, &fonts), fonts, s); }},
        {"symbol-set count", Bytes().u8(0).be16(0xFFFF).zeros(11), arrayBytes<_SYMBOLSET>(0xFFFF), {-2, false, 9},
         [&](PrinterRig& r) { return got(r.obj.bidiGetSymbolSetList(&s, &sets), sets, s); }},
        {"job count: job number 0 ends the list", Bytes().u8(0).be16(0xFFFF).zeros(2).be16(3).raw({0, 0, 0}),
         arrayBytes<Job>(0xFFFF), {0, true, 0},
         [&](PrinterRig& r) { return got(r.obj.bidiQueryJobs(0, &n, &jobs), jobs, n); }},
        // Exhaustion while an alert list grows reaches the caller as std::bad_alloc
        // (-1 here); the entries added before stay in the list.
        {"alert list growth", hex("03 04 FF FF 00  02 FF FF 00  01 FF 01 00"), 3 * sizeof(KVPrtObj::KVPALERTDATA),
         {-1, true, 2}, [&](PrinterRig& r) {
             KVPrtObj::KVPALERTDATA* list = nullptr;
             long rc = 0;
             try {
                 r.obj.bidiQueryPaperJams(&n, &list);
             } catch (const std::bad_alloc&) {
                 rc = -1;
             }
             return Got{rc, list != nullptr, static_cast<long>(takeList(list, n).size())};
         }},
    };
    for (const Case& c : cases) {
        PrinterRig rig;
        if (!c.answer.empty()) rig.printer.setHandler([a = c.answer](const SentRequest&) { return reply(a); });
        rig.printer.setAlert(4, ByteVec(777, 1));
        data = nullptr, in = nullptr, out = nullptr, fonts = nullptr, sets = nullptr, jobs = nullptr, levels = nullptr;
        n = 0, s = 9, levelCount = 7;
        failAllocationsOfSize(c.failing);
        Got result = c.call(rig);
        stopAllocationFailures();
        EXPECT_EQ(result, c.expected) << c.what;
    }

    failAllocationsOfSize(333);
    EXPECT_EQ(kvPrtObjNew(333), nullptr);
    stopAllocationFailures();
}

// Memory running out anywhere while a printer is opened and its object made:
// the calls return a failure, nothing is thrown at the host. (Not sim: its
// JSON reader may throw from a destructor when memory runs out.)
TEST(AllocationFailure, EveryAllocationWhileOpeningAndCreatingIsAResult) {
    auto openAndCreate = [] {   // the first failing result, 0 when all worked
        unsigned short handle = 0;
        long rc = BceOpenPrinter("tcp://127.0.0.1:9?timeout=200", &handle);
        if (rc != 0) return rc;
        KVPrtObj* obj = CreatePrinterObject(handle, 1, 0);   // discovery asks the engine
        delete obj;
        BceClosePrinter(handle);
        return obj != nullptr ? 0l : 1l;
    };
    const long before = allocationCount();
    ASSERT_EQ(openAndCreate(), 0);
    const long allocations = allocationCount() - before;
    for (long n = 1; n <= allocations; ++n) {
        failAllocationNumber(n);
        long rc = openAndCreate();
        EXPECT_TRUE(rc == 0 || rc == 1 || rc == BCE_E_NO_MEMORY || rc == BCE_E_BAD_URI) << "allocation " << n << ": " << rc;
    }
    stopAllocationFailures();
}
