#include "platform/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace norrow::platform {
namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int32_t ReadInt32(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const int64_t limit = negative ? -int64_t{INT32_MIN} : INT32_MAX;
    int64_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;  // saturate, and stay far from overflow
    }
    return static_cast<int32_t>(negative ? -value : value);
}

double ReadDouble(const char* text, size_t length) {
    const char* p = text;
    const char* end = text + length;
    while (p < end && IsSpace(*p)) ++p;
    const bool plus = p < end && *p == '+';
    if (plus) ++p;  // from_chars takes "-" only
    const char* digits = !plus && p < end && *p == '-' ? p + 1 : p;
    if (digits < end && *digits == '.') ++digits;
    // A number starts with a digit here: "nan", "inf" and "+-1" are no numbers.
    if (digits >= end || *digits < '0' || *digits > '9') return 0.0;
    double value = 0.0;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    // Out of range of a double: 0.0 too, so that the value is always finite.
    return result.ec == std::errc() && std::isfinite(value) ? value : 0.0;
}

void AppendFixed6(std::string& out, double value) {
    char buffer[400];  // the longest double in fixed notation has 309 digits before the point
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    out.append(buffer, result.ptr);
}

}  // namespace norrow::platform
