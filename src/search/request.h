// SEARCHREQUEST: the host's search request, which the hooks read and the page
// searches answer in; and the ids of the plug-in's two search targets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "results/search_results.h"

// The plug-in reads and writes only the named fields and nothing at or beyond
// offset 80; the gaps belong to the host.
struct SEARCHREQUEST {
    int32_t header;             // no page is served when 0
    const char* query;          // Shift-JIS; may be empty only with a box
    int32_t targetCount;        // entries in targetIds
    const uint32_t* targetIds;  // the search targets the user chose
    uint8_t hostOwned16[8];
    int32_t filter1;      // served only when -9999
    int32_t filter2;      // likewise
    int32_t resultCount;  // written: hits gathered so far
    uint8_t hostOwned36[4];
    SEARCHRESULT* results;  // written: the first of them
    int32_t hasBox;         // non-zero: the box is sent
    double box0;            // third value of bbox
    double box1;            // first value of bbox
    double box2;            // fourth value of bbox
    double box3;            // second value of bbox
};

#if UINTPTR_MAX == 0xFFFFFFFFu  // the host's 32-bit layout, byte for byte
static_assert(offsetof(SEARCHREQUEST, query) == 4, "query at 4");
static_assert(offsetof(SEARCHREQUEST, targetCount) == 8, "targetCount at 8");
static_assert(offsetof(SEARCHREQUEST, targetIds) == 12, "targetIds at 12");
static_assert(offsetof(SEARCHREQUEST, filter1) == 24, "filter1 at 24");
static_assert(offsetof(SEARCHREQUEST, filter2) == 28, "filter2 at 28");
static_assert(offsetof(SEARCHREQUEST, resultCount) == 32, "resultCount at 32");
static_assert(offsetof(SEARCHREQUEST, results) == 40, "results at 40");
static_assert(offsetof(SEARCHREQUEST, hasBox) == 44, "hasBox at 44");
static_assert(offsetof(SEARCHREQUEST, box0) == 48, "box0 at 48");
static_assert(offsetof(SEARCHREQUEST, box1) == 56, "box1 at 56");
static_assert(offsetof(SEARCHREQUEST, box2) == 64, "box2 at 64");
static_assert(offsetof(SEARCHREQUEST, box3) == 72, "box3 at 72");
static_assert(sizeof(SEARCHREQUEST) == 80, "the plug-in's part is 80 bytes");
#endif

constexpr int32_t kNoFilter = -9999;

namespace norrow::search {

// The ids the host gave the two search targets; 0 while not registered.
extern uint32_t geocoderTargetId;
extern uint32_t localTargetId;

}  // namespace norrow::search
