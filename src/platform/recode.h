// Text from one code page to another, through UTF-16, with a given table of
// system calls.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace norrow::platform {

// Appends `source` converted from code page `from` to code page `to` to
// `target`. Returns false, leaving `target` as it was, when the source is
// empty or a conversion call fails. May throw std::bad_alloc.
bool AppendRecoded(const SystemCalls& os, unsigned from, unsigned to, std::string_view source,
                   std::string& target);

// A piece of UTF-16 text, made by the caller of AppendWideInPieces: how many
// units it wrote, and where in the caller's source the next piece begins.
struct WidePiece {
    int units;
    size_t next;
};

// Appends UTF-16 text, which `piece` makes a piece at a time from a source of
// `length`, converted to code page `to`, to `target`. `piece(start, wide)`
// writes the piece that begins at `start` into `wide` (room for `room`
// units); it is asked twice for each piece, and must answer the same both
// times: a first pass measures, the second converts into the place made for
// the whole. Returns false, leaving `target` as it was, when a piece makes no
// units or a conversion fails. May throw std::bad_alloc.
template <typename MakePiece>
bool AppendWideInPieces(const SystemCalls& os, unsigned to, size_t length, size_t room,
                        MakePiece piece, std::string& target) {
    const std::unique_ptr<char16_t[]> wide(new char16_t[room]);
    size_t total = 0;
    for (size_t start = 0; start < length;) {
        const WidePiece made = piece(start, wide.get());
        const int bytes =
            made.units > 0 ? os.wideToMultiByte(to, wide.get(), made.units, nullptr, 0) : 0;
        if (bytes <= 0) return false;
        total += static_cast<size_t>(bytes);
        start = made.next;
    }
    const size_t before = target.size();
    target.resize(before + total);
    size_t written = before;
    for (size_t start = 0; start < length;) {
        const WidePiece made = piece(start, wide.get());
        const int left = static_cast<int>(std::min<size_t>(target.size() - written, INT32_MAX));
        const int bytes = made.units > 0 ? os.wideToMultiByte(to, wide.get(), made.units,
                                                              target.data() + written, left)
                                         : 0;
        if (bytes <= 0) {
            target.resize(before);
            return false;
        }
        written += static_cast<size_t>(bytes);
        start = made.next;
    }
    return true;
}

// The same for callers that only want the text (empty on failure), with the
// operating system's own conversions: UTF-8 <-> Shift-JIS.
std::string ShiftJisFromUtf8(std::string_view utf8);
std::string Utf8FromShiftJis(std::string_view sjis);

}  // namespace norrow::platform
