// Finds an element by name in a range of XML text, without an XML parser: one
// forward pass over the bytes, nothing copied, nothing allocated.
#pragma once

#include <cstdint>

namespace norrow::search {

// A part of a caller's buffer.
struct XmlRange {
    const char* start;
    int32_t length;
};

// Looks for the first element named `name` (compared as Windows compares
// multibyte text without case) among the elements at the top level of `range`.
// Reads only range.start[0 .. length - 1].
//
// Found (1): `content` is the text between the start tag and the end tag;
// `rest` runs from behind the end tag's name (behind the end tag when ">"
// follows the name) to the end of the range, ready for the next sibling.
// Not found (0): `rest` is the whole range; `content` means nothing.
int FindXmlElement(XmlRange range, const char* name, XmlRange& content, XmlRange& rest);

}  // namespace norrow::search
