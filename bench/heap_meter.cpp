#include "heap_meter.h"

#include <cstdlib>
#include <new>

namespace norrow::bench {
namespace {

// Every block carries its size in front of it.
constexpr size_t kHeader = alignof(std::max_align_t);
size_t alive = 0;
size_t peak = 0;
bool metering = false;

void* Allocate(size_t size) {
    auto* block = static_cast<char*>(std::malloc(size + kHeader));
    if (block == nullptr) return nullptr;
    *reinterpret_cast<size_t*>(block) = size;
    alive += size;
    if (metering && alive > peak) peak = alive;
    return block + kHeader;
}

void Release(void* pointer) {
    if (pointer == nullptr) return;
    char* block = static_cast<char*>(pointer) - kHeader;
    alive -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}

}  // namespace

HeapMeter::HeapMeter() : start_(alive) {
    peak = alive;
    metering = true;
}
HeapMeter::~HeapMeter() { metering = false; }
size_t HeapMeter::PeakAboveStart() const { return peak - start_; }

}  // namespace norrow::bench

void* operator new(std::size_t size) {
    if (void* p = norrow::bench::Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return norrow::bench::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return norrow::bench::Allocate(size);
}
void operator delete(void* p) noexcept { norrow::bench::Release(p); }
void operator delete[](void* p) noexcept { norrow::bench::Release(p); }
void operator delete(void* p, std::size_t) noexcept { norrow::bench::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { norrow::bench::Release(p); }
