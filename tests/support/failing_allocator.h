// The test executable's operator new (testkit/hooked_new.h), which a test
// can make fail at the n-th allocation of the plug-in from now, to walk
// through every allocation point of a piece of code. What the stand-in host
// allocates for itself (its record of calls, the answer buffers it hands
// over, the boxes a test captures) is the host's business: it neither counts
// nor fails, as a real host's allocations never reach the plug-in's operator
// new.
#pragma once

#include <cstddef>

#include "platform/os.h"

namespace norrow::test {

// While alive, the plug-in's allocation numbered `failAt` (1 = the next one)
// and every later one fails with std::bad_alloc (or a null pointer for the
// nothrow forms). Counts the plug-in's allocations it saw.
class FailingAllocations {
public:
    explicit FailingAllocations(long failAt);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

    // Allocations attempted since construction.
    long Seen() const;
};

// While alive, allocations are the host's: never counted, never failed.
class HostAllocations {
public:
    HostAllocations();
    ~HostAllocations();
    HostAllocations(const HostAllocations&) = delete;
    HostAllocations& operator=(const HostAllocations&) = delete;
};

#if NORROW_OS_WINDOWS
// While alive, the process has run out of memory: every malloc, calloc and
// realloc of msvcrt that the given modules import (each an HMODULE: the
// program, the plug-in, their libraries) fails for `minimumSize` bytes and
// more, the C++ runtimes linked into those modules included. Only the
// stand-in host's own bookkeeping still gets memory, as in the class above.
// Wine's and Windows' system libraries are left alone, so a message box still
// opens. Allocates nothing once built.
class ProcessOutOfMemory {
public:
    ProcessOutOfMemory(void* const* modules, size_t count, size_t minimumSize = 0);
    ~ProcessOutOfMemory();
    ProcessOutOfMemory(const ProcessOutOfMemory&) = delete;
    ProcessOutOfMemory& operator=(const ProcessOutOfMemory&) = delete;
};
#endif

}  // namespace norrow::test
