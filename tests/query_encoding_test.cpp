// Percent-encoding the query and converting between UTF-8 and Shift-JIS.
#include "search/query_encoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace norrow::test {
namespace {

using search::AnsiToUtf8;
using search::UrlDecode;
using search::UrlEncodeQuery;
using search::Utf8ToAnsi;

// Encodes into a buffer of exactly `capacity` bytes (overruns show under ASan).
std::string Encode(const std::string& source, int32_t capacity = 1024) {
    std::vector<char> target(static_cast<size_t>(capacity), '\x7F');
    UrlEncodeQuery(source.c_str(), target.data(), capacity);
    const std::string out(target.data());
    EXPECT_LT(out.size(), static_cast<size_t>(capacity));
    return out;
}

TEST(UrlEncodeQuery, ByteClasses) {
    const struct {
        std::string source, encoded;
    } cases[] = {
        {"query=abc def", "query=abc+def"},
        {"AZaz09_-*=", "AZaz09_-*="},
        {".~&+%\n\t", "%2E%7E%26%2B%25%0A%09"},
        {"\x82\xA0", "%82%A0"},  // hiragana a
        {"\x83\x41", "%83%41"},  // katakana a: its second byte is a letter, escaped
        {"\x83 ", "%83%20"},     // a blank as second byte is escaped, not "+"
        {"\xB1"
         "a",
         "%B1a"},  // half-width katakana stand alone
        {"\xA0"
         "A",
         "%A0A"},
        {"\x80"
         "A",
         "%80%41"},  // 0x80 and 0xFD-0xFF count as first bytes
        {"\xFD"
         "=",
         "%FD%3D"},
        {"x\x82", "x%82"},  // a first byte at the end
        {"\xE3\x81\x82"
         "A",
         "%E3%81%82%41"},  // UTF-8 read with the same rule
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Encode(c.source), c.encoded) << c.source;
    EXPECT_EQ(UrlDecode(Encode("\xE3\x81\x82"
                               "A")),
              "\xE3\x81\x82"
              "A");
}

TEST(UrlEncodeQuery, CapacityRule) {
    const std::string letters2000(2000, 'a');
    EXPECT_EQ(Encode(letters2000), std::string(1023, 'a'));

    const std::string escapes400(400, '.');
    const std::string cut = Encode(escapes400);
    EXPECT_EQ(cut.size(), 1020u);
    EXPECT_EQ(cut.substr(1017), "%2E");

    const struct {
        size_t letters;
        size_t expected;  // characters written before the NUL
    } boundaries[] = {{1017, 1020}, {1018, 1021}, {1019, 1022}, {1020, 1020},
                      {1021, 1021}, {1022, 1022}, {1023, 1023}};
    for (const auto& b : boundaries) {
        EXPECT_EQ(Encode(std::string(b.letters, 'a') + ".").size(), b.expected) << b.letters;
    }
    // A pair cut between its two escapes keeps the first.
    EXPECT_EQ(Encode(std::string(1017, 'a') + "\x82\xA0"), std::string(1017, 'a') + "%82");

    EXPECT_EQ(Encode("ab", 2), "a");
    EXPECT_EQ(Encode(".", 4), "");
    EXPECT_EQ(Encode(".", 5), "%2E");
    EXPECT_EQ(Encode(std::string(100000, '\xFF')).size(), 1020u);
}

TEST(UrlEncodeQuery, DecodesBackWhenNothingWasCut) {
    std::mt19937 random(5);
    for (int round = 0; round < 2000; ++round) {
        std::string source(random() % 200, ' ');
        for (char& c : source) c = static_cast<char>(1 + random() % 255);
        EXPECT_EQ(UrlDecode(Encode(source, 4096)), source);
    }
}

TEST(UrlDecode, FormEscapes) {
    const struct {
        std::string encoded, decoded;
    } cases[] = {
        {"a+b", "a b"},
        {"%41%6a%2B%25", "Aj+%"},
        {"%82%A0%e3%81%82", "\x82\xA0\xE3\x81\x82"},
        {"%00", std::string(1, '\0')},
        {"%", "%"},  // an escape cut short, or not hex, stays as it is
        {"%4", "%4"},
        {"x%G1", "x%G1"},
        {"%4G", "%4G"},
        {"%%41", "%A"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlDecode(c.encoded), c.decoded) << c.encoded;
}

TEST(Converters, BothWays) {
    std::string sjis;
    EXPECT_EQ(Utf8ToAnsi("\xE3\x81\x82", sjis), 1);
    EXPECT_EQ(sjis, "\x82\xA0");
    std::string utf8;
    EXPECT_EQ(AnsiToUtf8("\x82\xA0", utf8), 1);
    EXPECT_EQ(utf8, "\xE3\x81\x82");
    for (const std::string ascii : {"abc", "<YDF version=\"1.0\">"}) {
        std::string a, b;
        EXPECT_EQ(Utf8ToAnsi(ascii, a), 1);
        EXPECT_EQ(AnsiToUtf8(ascii, b), 1);
        EXPECT_EQ(a, ascii);
        EXPECT_EQ(b, ascii);
    }
}

TEST(Converters, EmptySourceFails) {
    std::string target;
    EXPECT_EQ(Utf8ToAnsi("", target), 0);
    EXPECT_EQ(AnsiToUtf8("", target), 0);
    EXPECT_EQ(target, "");
}

TEST(Converters, LengthStopsAtAConvertedNul) {
    std::string target;
    EXPECT_EQ(Utf8ToAnsi(std::string("ab\0\xE3\x81\x82", 6), target), 1);
    EXPECT_EQ(target, "ab");
}

TEST(Converters, MalformedInputIsReplacedNotRefused) {
    std::string target;
    EXPECT_EQ(Utf8ToAnsi("a\xFF\xC0"
                         "b",
                         target),
              1);
    EXPECT_EQ(target.front(), 'a');
    EXPECT_EQ(target.back(), 'b');
}

// A long answer is converted a piece at a time (64 KB); the result must be
// what its lines give one by one, whatever character stands across an edge.
TEST(Converters, LongTextConvertsAsItsLinesDo) {
    const std::string line = "a\xE3\x81\x82\xE3\x81\xE3\x81\x84\xF0\x9F\x98\x80\xC0\xAF b\n";
    for (size_t shift = 0; shift < line.size(); ++shift) {
        std::string text(64 * 1024 - shift, 'x');
        std::string expected = text;  // ASCII converts to itself
        while (text.size() < 140 * 1024) {
            text += line;
            ASSERT_EQ(Utf8ToAnsi(line, expected), 1);
        }
        std::string whole;
        ASSERT_EQ(Utf8ToAnsi(text, whole), 1);
        EXPECT_TRUE(whole == expected) << "a character " << shift << " bytes before the edge";
    }
}

int FailingWide(unsigned, const char16_t*, int, char*, int capacity) {
    return capacity == 0 ? 4 : 0;
}

TEST(Converters, PlatformFailureLeavesTheTarget) {
    platform::System().wideToMultiByte = FailingWide;
    std::string target = "kept";
    const int result = Utf8ToAnsi("abc", target);
    platform::System() = platform::NativeSystem();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(target, "kept");
}

}  // namespace
}  // namespace norrow::test
