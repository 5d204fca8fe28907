// An answer buffer that the host's HTTP functions allocated and handed over.
// The plug-in owns it from then on and releases it with ::operator delete,
// which in Norrow.tsp ends in msvcrt's free, the host's heap
// (plugin/runtime_memory.cpp tells where the plug-in's own memory comes
// from).
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
