#include "search/query_encoding.h"

#include <string>

#include "platform/platform.h"
#include "platform/recode.h"

namespace norrow::search {
namespace {

bool PassesUnchanged(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
           (byte >= 'A' && byte <= 'Z') || byte == '_' || byte == '-' || byte == '*' || byte == '=';
}

// The first byte of a pair, as the encoder counts it (wider than a real
// Shift-JIS lead byte: 0x80 and 0xFD-0xFF too).
bool StartsPair(unsigned char byte) { return (byte >= 0x80 && byte <= 0x9F) || byte >= 0xE0; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The destination's length stops at the first converted NUL.
int Convert(unsigned from, unsigned to, std::string_view source, platform::AnsiString& target) {
    const size_t before = target.size();
    if (!platform::AppendRecoded(platform::System(), from, to, source, target)) return 0;
    target.resize(before + std::char_traits<char>::length(target.c_str() + before));
    return 1;
}

}  // namespace

void UrlEncodeQuery(const char* source, char* target, int32_t capacity) {
    static const char kHex[] = "0123456789ABCDEF";
    if (target == nullptr || capacity <= 0) return;
    int32_t n = 0;
    if (capacity >= 2 && source != nullptr) {
        bool secondOfPair = false;
        for (const char* p = source; *p != '\0'; ++p) {
            const auto byte = static_cast<unsigned char>(*p);
            if (!secondOfPair && (byte == ' ' || PassesUnchanged(byte))) {
                target[n++] = byte == ' ' ? '+' : static_cast<char>(byte);
                if (n >= capacity - 1) break;
                continue;
            }
            if (n + 3 >= capacity - 1) break;
            target[n++] = '%';
            target[n++] = kHex[byte >> 4];
            target[n++] = kHex[byte & 0x0F];
            secondOfPair = !secondOfPair && StartsPair(byte);
        }
    }
    target[n] = '\0';
}

std::string UrlDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

int Utf8ToAnsi(std::string_view source, platform::AnsiString& target) {
    return Convert(platform::kUtf8CodePage, platform::kAnsiCodePage, source, target);
}

int AnsiToUtf8(std::string_view source, platform::AnsiString& target) {
    return Convert(platform::kAnsiCodePage, platform::kUtf8CodePage, source, target);
}

}  // namespace norrow::search
