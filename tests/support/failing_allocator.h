// The test executable's global operator new, which a test can make fail at
// the n-th allocation from now, to walk through every allocation point of a
// piece of code.
#pragma once

#include <cstddef>

namespace norrow::test {

// While alive, the allocation numbered `failAt` (1 = the next one) and every
// later one fails with std::bad_alloc (or a null pointer for the nothrow
// forms). Counts the allocations it saw.
class FailingAllocations {
public:
    explicit FailingAllocations(long failAt);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

    // Allocations attempted since construction.
    long Seen() const;
};

// Allocations made by the whole process so far (a running count).
long AllocationCount();

}  // namespace norrow::test
