// Reading and writing numbers the way the services write them, whatever the
// locale of the host process.
#include "platform/numbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os.h"

namespace norrow::test {
namespace {

using platform::AppendFixed6;
using platform::ReadDouble;
using platform::ReadInt32;

int32_t Int(const std::string& text) { return ReadInt32(text.data(), text.size()); }
double Double(const std::string& text) { return ReadDouble(text.data(), text.size()); }
std::string Fixed6(double value) {
    std::string out;
    AppendFixed6(out, value);
    return out;
}

TEST(ReadInt32, FollowsAtoiAndSaturates) {
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"42", 42},
        {"  \t\n-7x", -7},
        {"+8", 8},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"0012", 12},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"1234567890123456789012345678901234567890", INT32_MAX},
        {"-1234567890123456789012345678901234567890", INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(Int(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ReadInt32, StopsAtTheGivenLengthAndAtNul) {
    EXPECT_EQ(ReadInt32("12345", 3), 123);
    EXPECT_EQ(Int(std::string("12\0"
                              "34",
                              5)),
              12);
    EXPECT_EQ(ReadInt32("7", 0), 0);
}

TEST(ReadDouble, FollowsAtofInTheCLocale) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"139.5", 139.5}, {" 35.25", 35.25}, {"1", 1.0},   {"-0.5", -0.5},  {"+2.5", 2.5},
        {"+-1", 0.0},     {"abc", 0.0},      {"", 0.0},    {"1e3", 1000.0}, {"1.5e", 1.5},
        {".5", 0.5},      {"5.", 5.0},       {"2,3", 2.0}, {"1e999", 0.0},  {"\t-3", -3.0},
        // Words are no numbers, whatever from_chars would make of them.
        {"nan", 0.0},     {"-nan", 0.0},     {"inf", 0.0}, {"-inf", 0.0},   {"+infinity", 0.0},
        {"NAN(123)", 0.0}, {"0x1p3", 0.0},   {"-.5", -0.5}, {".", 0.0},     {"-", 0.0},
        {"1e-999", 0.0},  {"-1e999", 0.0},   {"-0", -0.0}, {"1e+2", 100.0}, {"e5", 0.0},
    };
    for (const auto& c : cases) {
        const double read = Double(c.text);
        EXPECT_EQ(read, c.expected) << '"' << c.text << '"';
        EXPECT_EQ(std::signbit(read), std::signbit(c.expected)) << '"' << c.text << '"';
    }
    EXPECT_EQ(ReadDouble("139.5", 3), 139.0);
    EXPECT_EQ(ReadDouble("-5", 1), 0.0) << "a sign alone";
}

TEST(AppendFixed6, PrintsAsPrintfDoesInTheCLocale) {
    const double values[] = {0.0,    139.5, -0.0000004,     0.0000005, 35.123456789,
                             -180.0, 1e20,  123456.9999995, 2.5e-7,    1.7976931348623157e308};
    for (double value : values) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%lf", value);
        EXPECT_EQ(Fixed6(value), expected);
    }
}

// A host process may run under a locale whose decimal point is a comma; the
// numbers on the wire still use ".".
TEST(Numbers, IgnoreTheLocaleOfTheProcess) {
#if NORROW_OS_WINDOWS
    const char* german = "German_Germany.1252";
#else
    const char* german = "de_DE.UTF-8";
#endif
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, german) == nullptr) GTEST_SKIP() << german << " not available";
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.1f", 1.5);
    const bool commaLocale = std::strcmp(printed, "1,5") == 0;
    const double read = Double("139.5");
    const std::string written = Fixed6(139.5);
    std::setlocale(LC_ALL, previous.c_str());

    ASSERT_TRUE(commaLocale) << "the locale did not take effect";
    EXPECT_EQ(read, 139.5);
    EXPECT_EQ(written, "139.500000");
}

}  // namespace
}  // namespace norrow::test
