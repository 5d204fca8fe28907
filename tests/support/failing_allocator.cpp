#include "support/failing_allocator.h"

#include <cstdlib>
#include <new>

#include "standin.h"

namespace norrow::test {
namespace {

long counter = 0;   // the plug-in's allocations so far
long failFrom = 0;  // 0: never fail
long armedAt = 0;
int hostDepth = 0;  // calls into the host in progress (one thread)

bool NextFails() {
    if (hostDepth > 0) return false;
    ++counter;
    return failFrom != 0 && counter >= failFrom;
}

void WatchHost(int entering) { hostDepth += entering != 0 ? 1 : -1; }

void* Allocate(std::size_t size) {
    if (NextFails()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

FailingAllocations::FailingAllocations(long failAt) {
    StandIn_SetCallObserver(WatchHost);
    armedAt = counter;
    failFrom = counter + failAt;
}
FailingAllocations::~FailingAllocations() { failFrom = 0; }
long FailingAllocations::Seen() const { return counter - armedAt; }
HostAllocations::HostAllocations() { WatchHost(1); }
HostAllocations::~HostAllocations() { WatchHost(0); }

}  // namespace norrow::test

void* operator new(std::size_t size) {
    if (void* p = norrow::test::Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return norrow::test::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return norrow::test::Allocate(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
