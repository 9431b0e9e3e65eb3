#include "alloc_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_size{0};
std::atomic<int> g_count{0};
std::atomic<long> g_countdown{0};   // the allocation that fails, counted down; 0 for none
std::atomic<long> g_allocations{0};

void* allocate(size_t size) {
    ++g_allocations;
    if (g_countdown.load() > 0 && g_countdown.fetch_sub(1) == 1) throw std::bad_alloc();
    if (size == g_size.load() && size != 0) {
        for (int n = g_count.load(); n > 0;)
            if (g_count.compare_exchange_weak(n, n - 1)) throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

namespace kvtest {
void failAllocationsOfSize(size_t size, int count) {
    g_count.store(count);
    g_size.store(size);
}
void failAllocationNumber(long n) { g_countdown.store(n); }
long allocationCount() { return g_allocations.load(); }
void stopAllocationFailures() {
    g_countdown.store(0);
    g_count.store(0);
    g_size.store(0);
}
}  // namespace kvtest

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
