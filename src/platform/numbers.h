// Numbers as the web services and the server information write them: decimal,
// with "." as the decimal point whatever the C locale of the host process is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace norrow::platform {

// Reads a decimal integer as C's atoi does (leading white space, an optional
// sign, the digits up to the first other byte, 0 without digits), looking at
// no more than `length` bytes, and saturating at the 32-bit limits.
int32_t ReadInt32(const char* text, size_t length);

// Reads a decimal floating-point number as C's atof does in the "C" locale
// (leading white space; reading stops at the first byte that cannot continue
// the number; 0.0 without one), looking at no more than `length` bytes. Only
// the decimal form is a number (an optional sign, digits with an optional
// point, an optional exponent): words such as "nan" or "inf" read as 0.0, and
// so does a number beyond the range of a double. The result is always finite.
double ReadDouble(const char* text, size_t length);

// Appends `value` in fixed notation with six decimals, as "%lf" prints it in
// the "C" locale.
void AppendFixed6(std::string& out, double value);

}  // namespace norrow::platform
