#include "search/query_encoding.h"

#include <memory>
#include <string>

#include "platform/platform.h"

namespace norrow::search {
namespace {

bool PassesUnchanged(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
           (byte >= 'A' && byte <= 'Z') || byte == '_' || byte == '-' || byte == '*' ||
           byte == '=';
}

// The first byte of a pair, as the encoder counts it (wider than a real
// Shift-JIS lead byte: 0x80 and 0xFD-0xFF too).
bool StartsPair(unsigned char byte) { return (byte >= 0x80 && byte <= 0x9F) || byte >= 0xE0; }

int Convert(unsigned from, unsigned to, std::string_view source, platform::AnsiString& target) {
    const platform::SystemCalls& os = platform::System();
    if (source.empty() || source.size() > INT32_MAX) return 0;
    const int length = static_cast<int>(source.size());
    const int units = os.multiByteToWide(from, source.data(), length, nullptr, 0);
    if (units <= 0) return 0;
    const std::unique_ptr<char16_t[]> wide(new char16_t[static_cast<size_t>(units)]);
    if (os.multiByteToWide(from, source.data(), length, wide.get(), units) == 0) return 0;
    const int bytes = os.wideToMultiByte(to, wide.get(), units, nullptr, 0);
    if (bytes <= 0) return 0;
    const size_t before = target.size();
    target.resize(before + static_cast<size_t>(bytes));
    char* converted = target.data() + before;
    if (os.wideToMultiByte(to, wide.get(), units, converted, bytes) == 0) {
        target.resize(before);
        return 0;
    }
    target.resize(before + std::char_traits<char>::length(converted));  // up to a converted NUL
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

int Utf8ToAnsi(std::string_view source, platform::AnsiString& target) {
    return Convert(platform::kUtf8CodePage, platform::kAnsiCodePage, source, target);
}

int AnsiToUtf8(std::string_view source, platform::AnsiString& target) {
    return Convert(platform::kAnsiCodePage, platform::kUtf8CodePage, source, target);
}

}  // namespace norrow::search
