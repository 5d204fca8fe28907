#include "testkit/hooked_new.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace norrow::testkit {
namespace {

size_t alive = 0;

size_t Header() { return kNewHooks.countBytes ? alignof(std::max_align_t) : 0; }

void* Allocate(size_t size) {
    if (kNewHooks.admit != nullptr && !kNewHooks.admit()) return nullptr;
    const size_t header = Header();
    if (size > SIZE_MAX - header) return nullptr;
    auto* block = static_cast<char*>(std::malloc(size + header == 0 ? 1 : size + header));
    if (block == nullptr) return nullptr;
    if (header != 0) {
        *reinterpret_cast<size_t*>(block) = size;
        alive += size;
    }
    if (kNewHooks.allocated != nullptr) kNewHooks.allocated(alive);
    return block + header;
}

void Release(void* pointer) {
    if (pointer == nullptr) return;
    const size_t header = Header();
    char* block = static_cast<char*>(pointer) - header;
    if (header != 0) alive -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}

}  // namespace

size_t BytesAlive() { return alive; }

}  // namespace norrow::testkit

void* operator new(std::size_t size) {
    if (void* p = norrow::testkit::Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return norrow::testkit::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return norrow::testkit::Allocate(size);
}
void operator delete(void* p) noexcept { norrow::testkit::Release(p); }
void operator delete[](void* p) noexcept { norrow::testkit::Release(p); }
void operator delete(void* p, std::size_t) noexcept { norrow::testkit::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { norrow::testkit::Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { norrow::testkit::Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { norrow::testkit::Release(p); }
