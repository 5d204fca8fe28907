// The byte searches under the element locator and the page walk: where the
// next "<" or ">" is, where a tag name ends, whether two names hold the same
// bytes, and the end tag of a known name. Each is exact; the tricks that make
// them fast stay in here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace norrow::search::bytes {

// Bytes that end a tag name at the top level of a range, and inside an
// element's content (where "/" does not: a nested "<a/>" has the name "a/").
// The page walk's sets add "<", which ends its scan of a name (a name that
// holds one makes the walk unsure).
struct NameEnds {
    bool topLevel[256] = {};
    bool content[256] = {};
    bool topLevelOrTag[256] = {};
    bool contentOrTag[256] = {};
    constexpr NameEnds() {
        for (unsigned char c : {' ', '\t', '\n', '\r', '>'}) topLevel[c] = content[c] = true;
        topLevel[static_cast<unsigned char>('/')] = true;
        for (int c = 0; c < 256; ++c) {
            topLevelOrTag[c] = topLevel[c];
            contentOrTag[c] = content[c];
        }
        topLevelOrTag[static_cast<unsigned char>('<')] = true;
        contentOrTag[static_cast<unsigned char>('<')] = true;
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

// The same as NameEnd for a set `ends` of bytes all below 0x3F (every set
// above): a word at a time is passed over up to the first byte below 0x3F,
// and the bytes from there are looked at one by one. (In the walk, where
// most tags are read once, this pays; in the locator, which reads the same
// names again and again, the plain loop does better.)
inline const char* NameEndByWords(const char* from, const char* end, const bool (&ends)[256]) {
    constexpr std::ptrdiff_t kWord = sizeof(Word);
    const char* p = from;
    for (; end - p >= kWord; p += kWord) {
        const Word low = BytesBelow(LoadWord(p), 0x3F);
        if (low != 0) {
            p += LowestByte(low);  // the lowest byte marked is always below 0x3F
            break;
        }
    }
    return NameEnd(p, end, ends);
}

// Whether `a` and `b`, two names inside a buffer that ends at `end`, hold the
// same bytes: a word at a time, the last word read past the names where the
// buffer goes on that far, with only the bytes of the names compared.
inline bool SameBytes(std::string_view a, std::string_view b, const char* end) {
    constexpr size_t kWord = sizeof(Word);
    const size_t n = a.size();
    if (b.size() != n) return false;
    size_t i = 0;
    for (; n - i >= kWord; i += kWord) {
        if (LoadWord(a.data() + i) != LoadWord(b.data() + i)) return false;
    }
    if (i == n) return true;
    const auto room = static_cast<std::ptrdiff_t>(kWord);
    if (end - (a.data() + i) >= room && end - (b.data() + i) >= room) {
        const Word differ = LoadWord(a.data() + i) ^ LoadWord(b.data() + i);
        return differ << (8 * (kWord - (n - i))) == 0;  // little-endian: the names' bytes
    }
    for (; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// The tag at `lt` (a "<" before `end`) when it is "</" and then `name`, byte
// for byte, and a byte of `ends` after it: that byte. Null otherwise.
inline const char* EndTagNamed(const char* lt, const char* end, std::string_view name,
                               const bool (&ends)[256]) {
    if (end - lt < 2 || lt[1] != '/') return nullptr;
    if (end - (lt + 2) <= static_cast<std::ptrdiff_t>(name.size())) return nullptr;
    const char* nameEnd = lt + 2 + name.size();
    if (!ends[static_cast<unsigned char>(*nameEnd)]) return nullptr;
    return SameBytes({lt + 2, name.size()}, name, end) ? nameEnd : nullptr;
}

// A set of name lengths, one bit a length (lengths 32 apart share one): a
// name whose bit is not in a set has none of its lengths.
constexpr uint32_t LengthBit(size_t length) { return 1u << (length & 31); }

// Whether [at, end) begins with `marker`.
inline bool StartsWith(const char* at, const char* end, std::string_view marker) {
    return end - at >= static_cast<std::ptrdiff_t>(marker.size()) &&
           std::memcmp(at, marker.data(), marker.size()) == 0;
}

}  // namespace norrow::search::bytes
