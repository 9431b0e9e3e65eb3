// Allocation-failure injection for tests of the -18 paths. Link the
// kvtest_allocfail library into a test program to replace the global
// operator new there; the library's allocations then fail on request.
// (Not used under sanitizers, which bring their own operator new.)
#pragma once

#include <cstddef>

namespace kvtest {

// The next `count` allocations of exactly `size` bytes throw std::bad_alloc.
void failAllocationsOfSize(size_t size, int count = 1);
// The `n`-th allocation from now (of any size) throws std::bad_alloc.
void failAllocationNumber(long n);
// Allocations made so far.
long allocationCount();
// Stops all injected failures.
void stopAllocationFailures();

}  // namespace kvtest
