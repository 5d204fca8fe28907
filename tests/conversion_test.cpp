// Code-page conversion: the Linux layer must give the bytes that Windows gives.
// The same expectations run in both builds: natively they check our iconv
// layer, under Wine they check Win32 itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "platform/linux/utf8.h"
#include "platform/os.h"
#include "platform/platform.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#endif

namespace norrow::test {
namespace {

using platform::kAnsiCodePage;
using platform::kOemCodePage;
using platform::kUtf8CodePage;

const platform::SystemCalls& Os() { return platform::NativeSystem(); }

std::u16string ToWide(unsigned codePage, const std::string& bytes) {
    const int length = static_cast<int>(bytes.size());
    const int units = Os().multiByteToWide(codePage, bytes.data(), length, nullptr, 0);
    std::u16string wide(static_cast<size_t>(units), u'\0');
    EXPECT_EQ(Os().multiByteToWide(codePage, bytes.data(), length, wide.data(), units), units);
    return wide;
}

std::string FromWide(unsigned codePage, const std::u16string& wide) {
    const int length = static_cast<int>(wide.size());
    const int bytes = Os().wideToMultiByte(codePage, wide.data(), length, nullptr, 0);
    std::string out(static_cast<size_t>(bytes), '\0');
    EXPECT_EQ(Os().wideToMultiByte(codePage, wide.data(), length, out.data(), bytes), bytes);
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char digits[4];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", b);
        out += digits;
    }
    return out;
}

TEST(Cp932, EncodesAsWindowsDoes) {
    const struct {
        const char* utf8;
        std::string sjis;
    } cases[] = {
        {u8"あア", "\x82\xA0\x83\x41"},
        {u8"ｱ", "\xB1"},
        {u8"①", "\x87\x40"},  // NEC special characters
        {u8"～", "\x81\x60"},
        {u8"＼", "\x81\x5F"},
        {u8"∥", "\x81\x61"},
        {u8"－", "\x81\x7C"},
        {u8"￢¬", "\x81\xCA\x81\xCA"},
        {u8"ⅰ", "\xFA\x40"},  // IBM extensions, not their NEC-selected duplicates
        {u8"纊", "\xFA\x5C"},
        {u8"髙", "\xFB\xFC"},
        {u8"¥", "\x5C"},
        {u8"―", "\x81\x5C"},
        {u8"〜‖−—", "????"},  // glibc maps these; Windows does not
        {u8"€", "?"},
        {u8"😀", "??"},   // one per surrogate
        {u8"éÀ", "eA"},  // best fit
    };
    for (const auto& c : cases) {
        const std::u16string wide = ToWide(kUtf8CodePage, c.utf8);
        EXPECT_EQ(Hex(FromWide(kAnsiCodePage, wide)), Hex(c.sjis)) << c.utf8;
        EXPECT_EQ(Hex(FromWide(kOemCodePage, wide)), Hex(c.sjis)) << c.utf8;
    }
}

TEST(Cp932, DecodesAsWindowsDoes) {
    const struct {
        std::string sjis;
        std::u16string wide;
    } cases[] = {
        {"\x82\xA0", u"\u3042"},
        {"\xFA\x40", u"\u2170"},
        {"\xEE\xEF", u"\u2170"},
        {"\x85\x40", u"\u30FB"},   // unassigned pair
        {"\xA0\x41", u"\uF8F0A"},  // 0xA0 is no character
        {"\x80\xFD\xFE\xFF", u"\u0080\uF8F1\uF8F2\uF8F3"},
        {"a\x81", u"a\u30FB"},  // lone first byte at the end
        {std::string("\x81\0b", 3), std::u16string(u"\u30FB\0b", 3)},
        {"\x81\x20", u"\u30FB"},  // any second byte makes a pair
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToWide(kAnsiCodePage, c.sjis), c.wide) << Hex(c.sjis);
    }
}

TEST(Utf8, ReplacesMalformedInputAsWindowsDoes) {
    const struct {
        std::string utf8;
        std::u16string wide;
    } cases[] = {
        {"\xE3\x81\x82", u"\u3042"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xC0\x80", u"\uFFFD\uFFFD"},                // no lead byte, then a lone continuation
        {"\xED\xA0\x80x", u"\uFFFD\uFFFDx"},          // an encoded surrogate
        {"\xE3\x81x", u"\uFFFDx"},                    // cut short inside the text
        {std::string("a\xE0\0", 3), u"a\uFFFD"},      // cut short by the end: one for the rest
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
    };
    for (const auto& c : cases) EXPECT_EQ(ToWide(kUtf8CodePage, c.utf8), c.wide) << Hex(c.utf8);
    EXPECT_EQ(FromWide(kUtf8CodePage,
                       u"a\xD800"
                       "b"),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(Conversion, TooSmallTargetFailsAndMeasureNeedsNoTarget) {
    char16_t wide[1];
    EXPECT_EQ(Os().multiByteToWide(kAnsiCodePage, "ab", 2, nullptr, 0), 2);
    EXPECT_EQ(Os().multiByteToWide(kAnsiCodePage, "ab", 2, wide, 1), 0);
    EXPECT_EQ(Os().multiByteToWide(kAnsiCodePage, "ab", 0, nullptr, 0), 0);
    char bytes[1];
    const char16_t pair[] = {0x3042};
    EXPECT_EQ(Os().wideToMultiByte(kAnsiCodePage, pair, 1, bytes, 1), 0);
}

// Every UTF-16 unit to 932 and every one- and two-byte 932 input to UTF-16,
// folded into one number. The expected value is what Win32 gives under Wine.
TEST(Cp932, WholeTablesMatchWindows) {
    uint64_t hash = 1469598103934665603ull;
    auto mix = [&hash](uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            hash ^= (value >> (8 * i)) & 0xFF;
            hash *= 1099511628211ull;
        }
    };
    for (uint32_t unit = 0; unit < 0x10000; ++unit) {
        const char16_t wide = static_cast<char16_t>(unit);
        char out[4];
        const int n = Os().wideToMultiByte(kAnsiCodePage, &wide, 1, out, 4);
        mix(static_cast<uint32_t>(n));
        for (int i = 0; i < n; ++i) mix(static_cast<unsigned char>(out[i]));
    }
    for (int first = 0; first < 256; ++first) {
        for (int second = -1; second < 256; ++second) {
            const char in[2] = {static_cast<char>(first), static_cast<char>(second)};
            char16_t out[4];
            const int n = Os().multiByteToWide(kAnsiCodePage, in, second < 0 ? 1 : 2, out, 4);
            mix(static_cast<uint32_t>(n));
            for (int i = 0; i < n; ++i) mix(out[i]);
        }
    }
    EXPECT_EQ(hash, 0x60a6c014ad3c49acull) << std::hex << "table digest " << hash;
}

#if NORROW_OS_WINDOWS
// Our UTF-8 codec (which the Linux build uses) against Win32 itself.
TEST(Utf8, CodecMatchesWin32) {
    auto check = [](const unsigned char* in, int length) {
        wchar_t theirs[16];
        char16_t ours[16];
        const int a =
            MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(in), length, theirs, 16);
        const int b = platform::Utf8ToUtf16(reinterpret_cast<const char*>(in), length, ours, 16);
        return a == b && std::memcmp(theirs, ours, static_cast<size_t>(a) * 2) == 0;
    };
    unsigned char in[8];
    int mismatches = 0;
    for (int a = 0; a < 256; ++a) {
        in[0] = static_cast<unsigned char>(a);
        mismatches += !check(in, 1);
        for (int b = 0; b < 256; ++b) {
            in[1] = static_cast<unsigned char>(b);
            mismatches += !check(in, 2);
            if (a < 0xE0) continue;
            for (int c = 0; c < 256; c += 3) {
                in[2] = static_cast<unsigned char>(c);
                mismatches += !check(in, 3);
            }
        }
    }
    std::mt19937 random(7);
    for (int k = 0; k < 200000; ++k) {
        const int length = 1 + static_cast<int>(random() % 7);
        for (int i = 0; i < length; ++i) {
            const unsigned r = random();
            in[i] = static_cast<unsigned char>(r % 3 == 0 ? r >> 8 : 0x80 + ((r >> 8) % 0x78));
        }
        mismatches += !check(in, length);
    }
    EXPECT_EQ(mismatches, 0);
}
#endif

}  // namespace
}  // namespace norrow::test
