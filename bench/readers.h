// The readers that page_bench times and page_instructions counts, one page a
// call: the plug-in's two readings, pugixml, and the memchr floor. Each reads
// the fields the plug-in reads, applies the 1024-byte rule, reads the numbers
// and appends the hits to the same store (emptied first).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace norrow::bench {

// The plug-in's reading: the walk (with its fallback), or plainly.
bool ReadAsPlugin(const std::string& answer, bool plainly);

// pugixml with parse_minimal, in place: the copy into `buffer` (as long as
// the answer) is part of the page. False when the status is not accepted.
bool ReadWithPugixml(const std::string& answer, std::vector<char>& buffer);

// The floor: one memchr pass for "<" over the answer; how many there are.
size_t CountAngleBrackets(const std::string& answer);

// The byte scanning under the page walk alone (src/search/xml_bytes.h): each
// "<" and the end of the name behind it, as the walk finds them; the sum of
// the names' lengths.
size_t ScanTags(const std::string& answer);

}  // namespace norrow::bench
