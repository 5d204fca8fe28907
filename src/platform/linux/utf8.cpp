#include "platform/linux/utf8.h"

#include <cstdint>

#include "platform/linux/counted_output.h"

namespace norrow::platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// The number of continuation bytes a lead byte announces; 0 for a byte that
// cannot start a sequence.
int ContinuationsAfter(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 1;
    if (lead >= 0xE0 && lead <= 0xEF) return 2;
    if (lead >= 0xF0 && lead <= 0xF4) return 3;
    return 0;
}

constexpr uint32_t kInvalid = 0xFFFFFFFF;

// Decodes the sequence whose lead byte is bytes[0], with `available` bytes in
// reach. Sets `consumed` to the bytes that belong to it and returns the code
// point, or kInvalid. A sequence cut off by the end of the input swallows the
// rest of the input; an ill-formed one ends at the first byte that cannot
// belong to it (which starts the next sequence).

uint32_t DecodeOne(const unsigned char* bytes, int available, int& consumed) {
    const int n = ContinuationsAfter(bytes[0]);
    consumed = 1;
    if (n == 0) return kInvalid;
    if (n + 1 > available) {
        consumed = available;
        return kInvalid;
    }
    uint32_t code = bytes[0] & (0x3F >> n);
    for (int left = n; left >= 1; --left) {
        const uint32_t bits = bytes[n + 1 - left] ^ 0x80u;
        if (bits >= 0x40) return kInvalid;
        code = (code << 6) | bits;
        if (left == 3) {
            ++consumed;
            if (code < 0x10) return kInvalid;  // overlong four-byte form
        } else if (left == 2) {
            if (code >= (0x110000 >> 6)) return kInvalid;  // beyond U+10FFFF
            ++consumed;
            if (code < 0x20) return kInvalid;  // overlong three-byte form
            if (code >= (0xD800 >> 6) && code <= (0xDFFF >> 6)) return kInvalid;  // surrogate
        } else {
            ++consumed;
            if (code < 0x80) return kInvalid;  // overlong
        }
    }
    return code;
}

}  // namespace

int Utf8ToUtf16(const char* source, int length, char16_t* target, int capacity) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    return WithOutput(target, capacity, [&](auto& out) {
        int i = 0;
        while (i < length) {
            for (const int run = i + AsciiRun(bytes + i, length - i); i < run; ++i)
                out.Put(bytes[i]);
            if (i >= length) break;
            const unsigned char lead = bytes[i];
            if (lead < 0x80) {
                out.Put(lead);
                ++i;
                continue;
            }
            // The common well-formed characters directly (two bytes, and three
            // bytes outside E0 and ED, whose second byte has narrower bounds).
            if (lead >= 0xC2 && lead <= 0xDF && i + 1 < length && (bytes[i + 1] & 0xC0) == 0x80) {
                out.Put(static_cast<char16_t>(((lead & 0x1F) << 6) | (bytes[i + 1] & 0x3F)));
                i += 2;
                continue;
            }
            if (lead >= 0xE1 && lead <= 0xEF && lead != 0xED && i + 2 < length &&
                (bytes[i + 1] & 0xC0) == 0x80 && (bytes[i + 2] & 0xC0) == 0x80) {
                out.Put(static_cast<char16_t>(((lead & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) |
                                              (bytes[i + 2] & 0x3F)));
                i += 3;
                continue;
            }
            int consumed = 0;
            uint32_t code = DecodeOne(bytes + i, length - i, consumed);
            if (code == kInvalid) {
                out.Put(kReplacement);
            } else if (code >= 0x10000) {
                code -= 0x10000;
                out.Put(static_cast<char16_t>(0xD800 + (code >> 10)));
                out.Put(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
            } else {
                out.Put(static_cast<char16_t>(code));
            }
            i += consumed;
        }
    });
}

int Utf16ToUtf8(const char16_t* source, int length, char* target, int capacity) {
    return WithOutput(target, capacity, [&](auto& out) {
        for (int i = 0; i < length; ++i) {
            uint32_t code = source[i];
            if (code < 0x80) {
                out.Put(static_cast<char>(code));
                continue;
            }
            if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && source[i + 1] >= 0xDC00 &&
                source[i + 1] <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (source[i + 1] - 0xDC00);
                ++i;
            } else if (code >= 0xD800 && code <= 0xDFFF) {
                code = kReplacement;
            }
            if (code < 0x800) {
                out.Put(static_cast<char>(0xC0 | (code >> 6)));
                out.Put(static_cast<char>(0x80 | (code & 0x3F)));
            } else if (code < 0x10000) {
                out.Put(static_cast<char>(0xE0 | (code >> 12)));
                out.Put(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                out.Put(static_cast<char>(0x80 | (code & 0x3F)));
            } else {
                out.Put(static_cast<char>(0xF0 | (code >> 18)));
                out.Put(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
                out.Put(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                out.Put(static_cast<char>(0x80 | (code & 0x3F)));
            }
        }
    });
}

}  // namespace norrow::platform
