// What a reading of an answer leaves behind: its result, total, status line,
// boxes and hits, to hold the page walk to the plain reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "search/page_search.h"

namespace norrow::testkit {

struct Outcome {
    bool read;
    int32_t total;
    std::vector<std::string> statusLines, boxes;
    std::string hits;  // every record and its texts, byte for byte
    bool operator==(const Outcome& other) const;
};

// Reads `answer` by `strategy` for the address search, from an empty store
// (left empty again), through the stand-in host (reset first); replaces the
// system's message box.
Outcome Read(search::PageStrategy strategy, const std::vector<char>& answer);

}  // namespace norrow::testkit
