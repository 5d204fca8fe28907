// UTF-8 <-> UTF-16 with the replacement behaviour of Windows' conversion
// functions called without flags: an ill-formed UTF-8 sequence becomes one
// U+FFFD and ends at the first byte that cannot continue it, a sequence cut off
// by the end of the input becomes one U+FFFD for all the bytes left, and an
// unpaired surrogate becomes U+FFFD on the way out. Used by the Linux layer;
// the Windows build calls Win32, and its tests compare the two.
#pragma once

#include <cstddef>

namespace norrow::platform {

// Decodes `length` bytes. Writes at most `capacity` units when `target` is
// non-null; returns the number of units the whole input makes, or 0 when
// `target` is non-null and too small.
int Utf8ToUtf16(const char* source, int length, char16_t* target, int capacity);

// Encodes `length` units. Same contract as above, in bytes.
int Utf16ToUtf8(const char16_t* source, int length, char* target, int capacity);

}  // namespace norrow::platform
