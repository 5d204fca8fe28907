// An answer buffer that the host's HTTP functions allocated and handed over.
// The plug-in owns it from then on and releases it with the global delete
// operator it shares with the host.
//
// Where the plug-in's memory comes from, in Norrow.tsp. Its own objects (the
// texts, the result store, converted answers) come from its operator new
// (plugin/runtime_memory.cpp), which asks msvcrt's malloc and throws
// std::bad_alloc when the process has nothing left; each page catches that
// and shows the memory message. The C and C++ runtimes linked into the
// library (exception objects, a thread's exception state, the threads
// runtime's records) allocate with malloc, calloc and realloc, which the
// linker's --wrap flags (src/CMakeLists.txt) send to the same file: msvcrt
// first, then a small reserve of its own, so that throwing std::bad_alloc
// still works in a process out of memory. A host buffer is released here with
// ::operator delete, which ends in msvcrt's free (the reserve never holds
// one). In the tests and benchmarks, which link the plug-in's code into a
// program, that program's operator new is testkit/hooked_new.cpp, through
// which the failing allocator of the tests (tests/support/failing_allocator)
// fails the plug-in's n-th allocation, and, on Windows, makes msvcrt's
// allocations fail for the program, the stand-in host and Norrow.tsp alike.
#pragma once

#include <new>

namespace norrow::contract {

class HostBuffer {
public:
    HostBuffer() = default;
    explicit HostBuffer(char* bytes) : bytes_(bytes) {}
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;
    ~HostBuffer() { Reset(); }

    char* get() const { return bytes_; }
    // Takes `bytes` over, releasing what it held before.
    void Reset(char* bytes = nullptr) {
        ::operator delete(bytes_);
        bytes_ = bytes;
    }

private:
    char* bytes_ = nullptr;
};

}  // namespace norrow::contract
