// Any bytes, any capacity from 2: the output is terminated inside the buffer,
// decodes to a prefix of the input, and to all of it when room was left.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "search/query_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t capacity = 2 + ((data[0] | (data[1] << 8)) % 3000);
    const std::string source(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string text = source.substr(0, source.find('\0'));  // as the C string reads it
    std::vector<char> target(static_cast<size_t>(capacity));
    norrow::search::UrlEncodeQuery(text.c_str(), target.data(), capacity);
    const size_t length = strnlen(target.data(), target.size());
    FUZZ_CHECK(length < static_cast<size_t>(capacity));
    const std::string encoded(target.data(), length);
    for (size_t i = encoded.find('%'); i != std::string::npos; i = encoded.find('%', i + 1)) {
        FUZZ_CHECK(i + 2 < length && isxdigit(static_cast<unsigned char>(encoded[i + 1])) &&
                   isxdigit(static_cast<unsigned char>(encoded[i + 2])));  // escapes are whole
    }
    const std::string decoded = norrow::search::UrlDecode(encoded);
    FUZZ_CHECK(text.compare(0, decoded.size(), decoded) == 0);
    if (length + 6 < static_cast<size_t>(capacity)) FUZZ_CHECK(decoded == text);
    return 0;
}
