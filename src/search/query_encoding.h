// The text routines at the boundary with the web services: percent-encoding
// of the query, and conversion between UTF-8 and the ANSI code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace norrow::search {

// Percent-encodes the NUL-terminated `source` into `target`, which has room
// for `capacity` bytes (at least 2). A blank becomes "+"; letters, digits and
// "_-*=" stay; every other byte becomes "%XX". A byte in 0x80-0x9F or 0xE0-0xFF
// starts a Shift-JIS pair: the byte after it is escaped too, whatever it is.
// An escape is written only while at least two bytes stay free behind it; the
// text is cut without notice where it does not fit. Always NUL-terminated.
void UrlEncodeQuery(const char* source, char* target, int32_t capacity);

// The inverse of UrlEncodeQuery, as a form is decoded: "+" becomes a blank and
// "%XX" (hex digits in either case) the byte XX; a "%" without two hex digits
// behind it, and every other byte, stays as it is.
std::string UrlDecode(std::string_view text);

// Convert `source` (all its bytes, NULs included) through UTF-16 and append
// the result to the empty `target`, whose length then stops at the first
// converted NUL. Malformed input and characters the target lacks are replaced,
// not refused. Return 0, leaving `target` as it was, for an empty source or
// when the platform's conversion fails; 1 otherwise. May throw std::bad_alloc.
int Utf8ToAnsi(std::string_view source, platform::AnsiString& target);
int AnsiToUtf8(std::string_view source, platform::AnsiString& target);

}  // namespace norrow::search
