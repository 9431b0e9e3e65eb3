// Memory running out anywhere while a printer is opened and its object made:
// the calls return a failure, nothing is thrown at the host. The global
// operator new of this program fails on request (kvtest_allocfail).
#include <gtest/gtest.h>

#include "alloc_failure.h"
#include "kvprtobj/kvprtobj.h"

namespace {

// Opens a printer nobody serves and makes its printer object (discovery asks
// the engine); the first failing result, 0 when all worked. (Not sim: its
// JSON reader may throw from a destructor when memory runs out.)
long openAndCreate() {
    unsigned short handle = 0;
    long rc = BceOpenPrinter("tcp://127.0.0.1:9?timeout=200", &handle);
    if (rc != 0) return rc;
    KVPrtObj* obj = CreatePrinterObject(handle, 1, 0);
    delete obj;
    BceClosePrinter(handle);
    return obj != nullptr ? 0 : 1;
}

TEST(OpenAllocationFailure, EveryAllocationFailingInTurnIsAResult) {
    const long before = kvtest::allocationCount();
    ASSERT_EQ(openAndCreate(), 0);
    const long allocations = kvtest::allocationCount() - before;
    for (long n = 1; n <= allocations; ++n) {
        kvtest::failAllocationNumber(n);
        long rc = openAndCreate();
        EXPECT_TRUE(rc == 0 || rc == 1 || rc == BCE_E_NO_MEMORY || rc == BCE_E_BAD_URI)
            << "allocation " << n << ": " << rc;
    }
    kvtest::stopAllocationFailures();
}

}  // namespace
