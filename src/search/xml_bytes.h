// The byte searches under the element locator and the page walk: where the
// next "<" or ">" is, and where a tag name ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace norrow::search::bytes {

// Bytes that end a tag name at the top level of a range, and inside an
// element's content (where "/" does not: a nested "<a/>" has the name "a/").
struct NameEnds {
    bool topLevel[256] = {};
    bool content[256] = {};
    constexpr NameEnds() {
        for (unsigned char c : {' ', '\t', '\n', '\r', '>'}) topLevel[c] = content[c] = true;
        topLevel[static_cast<unsigned char>('/')] = true;
    }
};
inline constexpr NameEnds kNameEnds;

// Eight bytes at a time (little-endian, as both targets are): a mask with the
// high bit set for every byte below `limit` (at most 0x80) and possibly for
// some above the first such byte, never missing one.
inline uint64_t Load8(const char* p) {
    uint64_t eight;
    std::memcpy(&eight, p, 8);
    return eight;
}
inline uint64_t BytesBelow(uint64_t eight, uint64_t limit) {
    return (eight - limit * 0x0101010101010101ull) & ~eight & 0x8080808080808080ull;
}
inline int LowestByte(uint64_t mask) { return __builtin_ctzll(mask) / 8; }

// The first byte in [from, end) that ends a name, or null when the range ends
// first. (Names are short: a plain loop beats any trick here.)
inline const char* NameEnd(const char* from, const char* end, const bool (&ends)[256]) {
    for (const char* p = from; p < end; ++p) {
        if (ends[static_cast<unsigned char>(*p)]) return p;
    }
    return nullptr;
}

// The first `c` in [from, end), or null. The gaps between tags are short:
// the first sixteen bytes are looked at here, the rest by memchr.
inline const char* Find(const char* from, const char* end, char c) {
    const uint64_t spread = static_cast<unsigned char>(c) * 0x0101010101010101ull;
    const char* p = from;
    for (int round = 0; round < 2 && end - p >= 8; ++round, p += 8) {
        const uint64_t hits = BytesBelow(Load8(p) ^ spread, 1);  // bytes equal to c
        if (hits != 0) return p + LowestByte(hits);
    }
    return p < end ? static_cast<const char*>(std::memchr(p, c, static_cast<size_t>(end - p)))
                   : nullptr;
}

// Whether [at, end) begins with `marker`.
inline bool StartsWith(const char* at, const char* end, std::string_view marker) {
    return end - at >= static_cast<std::ptrdiff_t>(marker.size()) &&
           std::memcmp(at, marker.data(), marker.size()) == 0;
}

}  // namespace norrow::search::bytes
