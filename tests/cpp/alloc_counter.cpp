// Replaces operator new to count what the current thread allocates.
#include "alloc_counter.hpp"

#include <cstdlib>
#include <new>

namespace {
thread_local vantu::test::AllocationCount counted;
}

vantu::test::AllocationCount vantu::test::allocations() { return counted; }

void* operator new(std::size_t size) {
    ++counted.calls;
    counted.bytes += size;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
