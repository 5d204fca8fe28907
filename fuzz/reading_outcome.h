// What a reading of an answer leaves behind, to hold the page walk to the
// plain reading; and how often the walk was sure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "search/page_search.h"

namespace norrow::fuzz {

struct Outcome {
    bool read;
    int32_t total;
    std::vector<std::string> statusLines, boxes;
    std::string hits;  // every record and its texts, byte for byte
    bool operator==(const Outcome& other) const;
};

using Reading = bool (*)(const search::Service&, search::XmlRange, int32_t&);

// Reads `answer` with `reading` for the address search, from an empty store.
Outcome Read(Reading reading, const std::vector<char>& answer);

// Counts whether the walk is sure of `answer`, a generated one or not; the
// counts are printed when the program ends.
void CountWalk(const std::vector<char>& answer, bool generated);

}  // namespace norrow::fuzz
