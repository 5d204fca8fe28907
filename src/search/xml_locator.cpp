#include "search/xml_locator.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/text.h"
#include "search/xml_bytes.h"

namespace norrow::search {
namespace {

using bytes::kNameEnds;
using bytes::NameEnd;
using bytes::StartsWith;

// A CDATA section's text starts at `from`; returns the byte behind the first
// "]]>" that lies wholly in the range, or null.
const char* CdataEnd(const char* from, const char* end) {
    for (const char* q = from; end - q >= 3; ++q) {
        q = bytes::Find(q, end - 2, ']');
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
            p = bytes::Find(p, end_, '<');
            if (p == nullptr || p == end_ - 1) return false;
            if (StartsWith(p + 1, end_, "![CDATA[")) {
                p = CdataEnd(p + 9, end_);
                if (p == nullptr) return false;
                continue;
            }
            const char* nameEnd = NameEnd(p + 1, end_, kNameEnds.topLevel);
            if (nameEnd == nullptr) return false;
            const char* k = bytes::Find(nameEnd, end_, '>');
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
            j = bytes::Find(j, last, '<');
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
