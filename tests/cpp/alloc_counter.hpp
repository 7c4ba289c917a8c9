// Counts heap allocations made by the current thread, so tests can check
// that decoding allocates nothing (or only what the bytes present justify).
#pragma once

#include <cstddef>

namespace vantu::test {

struct AllocationCount {
    std::size_t calls = 0;
    std::size_t bytes = 0;
};

AllocationCount allocations();

// The allocations made while running `f`.
template <class F>
AllocationCount allocations_during(F&& f) {
    const AllocationCount before = allocations();
    f();
    const AllocationCount after = allocations();
    return {after.calls - before.calls, after.bytes - before.bytes};
}

}  // namespace vantu::test
