// Any bytes, any name: the results always lie inside the range.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "search/xml_locator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kNames[] = {"YDF", "resultinfo", "feature", "name", "xml", "a", "!--"};
    if (size == 0) return 0;
    const char* name = kNames[data[0] % (sizeof kNames / sizeof *kNames)];
    const std::vector<char> bytes(data + 1, data + size);  // exactly the range: no NUL behind it
    const norrow::search::XmlRange range{bytes.data(), static_cast<int32_t>(bytes.size())};
    norrow::search::XmlRange content{}, rest{};
    const int found = norrow::search::FindXmlElement(range, name, content, rest);
    const char* end = range.start + range.length;
    FUZZ_CHECK(rest.start >= range.start && rest.length >= 0 && rest.start + rest.length == end);
    if (found) {
        FUZZ_CHECK(content.start > range.start && content.length >= 0);
        FUZZ_CHECK(content.start + content.length < rest.start);  // the end tag lies between
    } else {
        FUZZ_CHECK(rest.start == range.start && rest.length == range.length);
    }
    return 0;
}
