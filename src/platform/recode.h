// Text from one code page to another, through UTF-16, with a given table of
// system calls.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace norrow::platform {

// Appends `source` converted from code page `from` to code page `to` to
// `target`. Returns false, leaving `target` as it was, when the source is
// empty or a conversion call fails. May throw std::bad_alloc.
bool AppendRecoded(const SystemCalls& os, unsigned from, unsigned to, std::string_view source,
                   std::string& target);

// The same for callers that only want the text (empty on failure), with the
// operating system's own conversions: UTF-8 <-> Shift-JIS.
std::string ShiftJisFromUtf8(std::string_view utf8);
std::string Utf8FromShiftJis(std::string_view sjis);

}  // namespace norrow::platform
