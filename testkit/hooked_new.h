// The global operator new and delete of a test or benchmark program that
// links norrow_hooked_new: blocks come from malloc, and the program refuses
// or watches allocations through the hooks it defines. One thread.
#pragma once

#include <cstddef>

namespace norrow::testkit {

struct NewHooks {
    // Asked before each allocation: false fails it (std::bad_alloc, or a null
    // pointer from the nothrow forms) before any memory is taken. Null: none
    // fails.
    bool (*admit)();
    // Told after each allocation, with the bytes then alive. Null: not told.
    void (*allocated)(size_t bytesAlive);
    // Whether blocks carry their size in front of them, so that the bytes
    // alive are counted. Only where every block deleted here was allocated
    // here: not in a Windows program, whose modules each have an operator new
    // of their own and pass blocks between them.
    bool countBytes;
};

// Defined once by each program that links norrow_hooked_new, as a constant,
// so that it holds from the first allocation on.
extern const NewHooks kNewHooks;

// The bytes asked for by the blocks not yet deleted; 0 unless countBytes.
size_t BytesAlive();

}  // namespace norrow::testkit
