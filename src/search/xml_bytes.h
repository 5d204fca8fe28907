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

// A machine word of bytes at a time (little-endian, as both targets are):
// eight on x86-64, four in the 32-bit plug-in, where eight-byte arithmetic is
// split in two and counting trailing zeros of it is a library call.
using Word = std::uintptr_t;
inline constexpr Word kOnes = ~Word{0} / 0xFF;  // 0x01 in every byte

inline Word LoadWord(const char* p) {
    Word word;
    std::memcpy(&word, p, sizeof word);
    return word;
}
// A mask with the high bit set for every byte below `limit` (at most 0x80)
// and possibly for some above the first such byte, never missing one.
inline Word BytesBelow(Word word, Word limit) {
    return (word - limit * kOnes) & ~word & (kOnes * 0x80);
}
// The index of the lowest byte marked in a non-zero mask.
inline int LowestByte(Word mask) {
    if constexpr (sizeof(Word) == 8) {
        return __builtin_ctzll(mask) / 8;
    } else {
        return __builtin_ctz(static_cast<unsigned>(mask)) / 8;
    }
}

// The first byte in [from, end) that ends a name, or null when the range ends
// first. (Names are short: a plain loop beats any trick here.)
inline const char* NameEnd(const char* from, const char* end, const bool (&ends)[256]) {
    for (const char* p = from; p < end; ++p) {
        if (ends[static_cast<unsigned char>(*p)]) return p;
    }
    return nullptr;
}

// The first `c` in [from, end), or null. The gaps between tags are short:
// the first sixteen bytes are looked at here, a word at a time, the rest by
// memchr.
inline const char* Find(const char* from, const char* end, char c) {
    constexpr std::ptrdiff_t kWord = sizeof(Word);
    const Word spread = static_cast<unsigned char>(c) * kOnes;
    const char* p = from;
    for (int round = 0; round < 16 / kWord && end - p >= kWord; ++round, p += kWord) {
        const Word hits = BytesBelow(LoadWord(p) ^ spread, 1);  // bytes equal to c
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
