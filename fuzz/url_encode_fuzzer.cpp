// Any bytes, any capacity from 2: the output is terminated inside the buffer,
// decodes to a prefix of the input, and to all of it when room was left.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "search/query_encoding.h"

namespace {

int Hex(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

std::string Decode(const char* encoded) {
    std::string out;
    for (const char* p = encoded; *p != '\0'; ++p) {
        if (*p == '+') {
            out += ' ';
        } else if (*p == '%') {
            FUZZ_CHECK(p[1] != '\0' && p[2] != '\0');
            out += static_cast<char>(Hex(p[1]) * 16 + Hex(p[2]));
            p += 2;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t capacity = 2 + ((data[0] | (data[1] << 8)) % 3000);
    const std::string source(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string text = source.substr(0, source.find('\0'));  // as the C string reads it
    std::vector<char> target(static_cast<size_t>(capacity));
    norrow::search::UrlEncodeQuery(text.c_str(), target.data(), capacity);
    const size_t length = strnlen(target.data(), target.size());
    FUZZ_CHECK(length < static_cast<size_t>(capacity));
    const std::string decoded = Decode(target.data());
    FUZZ_CHECK(text.compare(0, decoded.size(), decoded) == 0);
    if (length + 6 < static_cast<size_t>(capacity)) FUZZ_CHECK(decoded == text);
    return 0;
}
