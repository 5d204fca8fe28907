#include "search/xml_locator.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/text.h"

namespace norrow::search {
namespace {

// Bytes that end a tag name at the top level, and inside an element's content
// (where "/" does not: a nested "<a/>" has the name "a/").
struct NameEnds {
    bool topLevel[256] = {};
    bool content[256] = {};
    constexpr NameEnds() {
        for (unsigned char c : {' ', '\t', '\n', '\r', '>'}) topLevel[c] = content[c] = true;
        topLevel[static_cast<unsigned char>('/')] = true;
    }
};
constexpr NameEnds kNameEnds;

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

// A CDATA section's text starts at `from`; returns the byte behind the first
// "]]>" that lies wholly in the range, or null.
const char* CdataEnd(const char* from, const char* end) {
    for (const char* q = from; end - q >= 3; ++q) {
        q = Find(q, end - 2, ']');
        if (q == nullptr) return nullptr;
        if (q[1] == ']' && q[2] == '>') return q + 3;
    }
    return nullptr;
}

// One search. Positions are pointers into the range [s, end).
class Scanner {
public:
    Scanner(XmlRange range, const char* name)
        : s_(range.start), end_(range.start + range.length), sought_(name) {}

    // Runs the search; on success sets the content and the rest's start.
    bool Find(const char*& contentStart, const char*& contentEnd, const char*& restStart) const {
        const char* p = s_;
        for (;;) {
            p = search::Find(p, end_, '<');
            if (p == nullptr || p == end_ - 1) return false;
            if (StartsWith(p + 1, end_, "![CDATA[")) {
                p = CdataEnd(p + 9, end_);
                if (p == nullptr) return false;
                continue;
            }
            const char* nameEnd = NameEnd(p + 1, end_, kNameEnds.topLevel);
            if (nameEnd == nullptr) return false;
            const char* k = search::Find(nameEnd, end_, '>');
            if (k == nullptr) return false;
            const std::string_view tagName(p + 1, static_cast<size_t>(nameEnd - (p + 1)));
            if (IsPassedOver(tagName, k)) {
                p = k + 1;
                continue;
            }
            // A start tag: the element runs to its end tag.
            const bool found = platform::EqualIgnoringCase(tagName, sought_);
            if (k + 1 >= end_) return false;
            const char* endTag = nullptr;
            const char* after = nullptr;
            if (!ScanContent(k + 1, tagName, found, endTag, after)) return false;
            if (found) {
                contentStart = k + 1;
                contentEnd = endTag;
                restStart = after;
                return true;
            }
            p = after;  // an element of another name, skipped whole
        }
    }

private:
    // Empty-element tags, declarations and comments at the top level.
    bool IsPassedOver(std::string_view name, const char* k) const {
        const char before = k[-1];
        if (before == '/' || before == '?') return true;
        if (before == '-' && name == "!--") return true;
        return k - 2 >= s_ && k[-2] == '-';
    }

    // Scans the content of the element named `current` from `from` to its end
    // tag, counting nested elements of the sought name when `found`. Sets
    // `endTag` to the end tag's "<" and `after` behind the byte that ended its
    // name.
    bool ScanContent(const char* from, std::string_view current, bool found, const char*& endTag,
                     const char*& after) const {
        const char* last = end_ - 1;  // the last byte never starts a tag
        int depth = 0;
        const char* j = from;
        for (;;) {
            j = search::Find(j, last, '<');
            if (j == nullptr) return false;
            const char next = j[1];
            if (next == '!') {
                if (StartsWith(j + 2, end_, "[CDATA[")) {
                    j = CdataEnd(j + 9, end_);
                    if (j == nullptr) return false;
                } else {
                    j += 2;  // a comment's text is scanned like any other
                }
                continue;
            }
            const bool isEndTag = next == '/';
            const char* nameStart = isEndTag ? j + 2 : j + 1;
            const char* t = NameEnd(nameStart, end_, kNameEnds.content);
            if (t == nullptr) return false;
            const std::string_view tagName(nameStart, static_cast<size_t>(t - nameStart));
            if (isEndTag) {
                if (platform::EqualIgnoringCase(tagName, current)) {
                    if (depth == 0) {
                        endTag = j;
                        after = t + 1;
                        return true;
                    }
                    --depth;
                }
            } else if (found && platform::EqualIgnoringCase(tagName, sought_)) {
                ++depth;
            }
            j = t + 1;
        }
    }

    const char* s_;
    const char* end_;
    std::string_view sought_;
};

}  // namespace

int FindXmlElement(XmlRange range, const char* name, XmlRange& content, XmlRange& rest) {
    rest = range;
    if (range.start == nullptr || range.length <= 0 || name == nullptr) return 0;
    const char* contentStart = nullptr;
    const char* contentEnd = nullptr;
    const char* restStart = nullptr;
    if (!Scanner(range, name).Find(contentStart, contentEnd, restStart)) return 0;
    const char* end = range.start + range.length;
    content = {contentStart, static_cast<int32_t>(contentEnd - contentStart)};
    rest = {restStart, static_cast<int32_t>(end - restStart)};
    return 1;
}

}  // namespace norrow::search
