// The memory that the C and C++ runtimes inside Norrow.tsp take for
// themselves. Throwing std::bad_alloc when the host process has run out of
// memory still needs a little: the exception object, the calling thread's
// exception state, and the first use of a lock or once-flag of the threads
// runtime. A runtime that gets none of it crashes the host (a null pointer
// written through, or an exception thrown while throwing, until the stack
// overflows). The linker sends every malloc, calloc, realloc and free of this
// library here (--wrap, see src/CMakeLists.txt): what the process cannot give
// comes from a small reserve of our own, so that the plug-in can report the
// shortage and return. The plug-in's own objects never draw on the reserve:
// its operator new asks the process only, and fails when the process does.
//
// The plug-in's own objects (the texts, the result store, converted answers)
// come from that operator new, which asks msvcrt's malloc and throws
// std::bad_alloc when the process has nothing left; each page catches that
// and shows the memory message. A host buffer (contract/host_buffer.h) is
// released with ::operator delete, which ends in msvcrt's free; the reserve
// never holds one. The tests and benchmarks, which link the plug-in's code
// into a program, use testkit/hooked_new.cpp instead, through which the
// failing allocator of the tests fails the plug-in's n-th allocation.
#include "platform/os.h"

#if NORROW_OS_WINDOWS

#include <malloc.h>  // _msize
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
void __real_free(void* block);
}

namespace {

// The runtime's requests on that path are small (16 to 184 bytes each, an
// exception object about 128) and few at a time.
constexpr size_t kSlotSize = 512;
constexpr int kSlots = 32;

struct alignas(16) Slot {
    unsigned char bytes[kSlotSize];
};
Slot slots[kSlots];
size_t slotSizes[kSlots];    // the size asked for, for realloc
volatile LONG taken[kSlots];  // 1 while a slot is given out

// A free slot for `size` bytes, or null when none is free or it would not fit.
void* TakeSlot(size_t size) {
    if (size > kSlotSize) return nullptr;
    for (int i = 0; i < kSlots; ++i) {
        if (InterlockedCompareExchange(&taken[i], 1, 0) == 0) {
            slotSizes[i] = size;
            return slots[i].bytes;
        }
    }
    return nullptr;
}

// The index of the slot that `block` is, or -1 when it is the process's.
int SlotOf(const void* block) {
    const auto address = reinterpret_cast<uintptr_t>(block);
    const auto first = reinterpret_cast<uintptr_t>(&slots[0]);
    if (address < first || address >= first + sizeof slots) return -1;
    return static_cast<int>((address - first) / sizeof(Slot));
}

void ReleaseSlot(int slot) { InterlockedExchange(&taken[slot], 0); }

}  // namespace

extern "C" {

void* __wrap_malloc(size_t size) {
    if (void* block = __real_malloc(size)) return block;
    return TakeSlot(size);
}

void* __wrap_calloc(size_t count, size_t size) {
    if (void* block = __real_calloc(count, size)) return block;
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    void* block = TakeSlot(count * size);
    if (block != nullptr) std::memset(block, 0, count * size);
    return block;
}

void __wrap_free(void* block) {
    const int slot = SlotOf(block);
    if (slot >= 0) {
        ReleaseSlot(slot);
    } else {
        __real_free(block);
    }
}

// As msvcrt's realloc, with the reserve behind it: a block that cannot grow
// where it is moves, into the reserve when the process has nothing left. The
// threads runtime grows its table of thread keys this way, and aborts the
// host when it cannot.
void* __wrap_realloc(void* block, size_t size) {
    if (block == nullptr) return __wrap_malloc(size);
    if (size == 0) {
        __wrap_free(block);
        return nullptr;
    }
    const int slot = SlotOf(block);
    if (slot < 0) {
        if (void* grown = __real_realloc(block, size)) return grown;
    }
    const size_t kept = slot < 0 ? _msize(block) : slotSizes[slot];
    void* moved = __wrap_malloc(size);
    if (moved == nullptr) return nullptr;  // the block stays the caller's
    std::memcpy(moved, block, size < kept ? size : kept);
    __wrap_free(block);
    return moved;
}

}  // extern "C"

// The plug-in's own objects: from the process, or std::bad_alloc.
void* operator new(size_t size) {
    if (void* block = __real_malloc(size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}

void* operator new[](size_t size) { return operator new(size); }

#endif  // NORROW_OS_WINDOWS
