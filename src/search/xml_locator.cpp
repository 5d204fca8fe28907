#include "search/xml_locator.h"

#include <cstring>
#include <string_view>

#include "platform/text.h"

namespace norrow::search {
namespace {

// Bytes that end a tag name at the top level, and inside an element's content
// (where "/" does not: a nested "<a/>" has the name "a/").
bool EndsNameAtTopLevel(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '/' || c == '>';
}
bool EndsNameInContent(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '>';
}

// The scan over one range. Positions are int64 so that "position + 9" never
// overflows, whatever the range length.
class Scanner {
public:
    Scanner(XmlRange range, const char* name) : s_(range.start), length_(range.length), sought_(name) {}

    // Runs the search; on success sets the content and rest positions.
    bool Find(int64_t& contentStart, int64_t& contentEnd, int64_t& restStart) {
        int64_t p = 0;
        while (p < length_) {
            if (s_[p] != '<') {
                ++p;
                continue;
            }
            if (p == length_ - 1) return false;
            if (StartsCdata(p + 1, "![CDATA[")) {
                if (!SkipCdata(p + 9, p)) return false;
                continue;
            }
            const int64_t nameEnd = ScanName(p + 1, EndsNameAtTopLevel);
            if (nameEnd < 0) return false;
            const void* close = std::memchr(s_ + nameEnd, '>', static_cast<size_t>(length_ - nameEnd));
            if (close == nullptr) return false;
            const int64_t k = static_cast<const char*>(close) - s_;
            const std::string_view tagName(s_ + p + 1, static_cast<size_t>(nameEnd - (p + 1)));
            if (IsPassedOver(tagName, k)) {
                p = k + 1;
                continue;
            }
            // A start tag: the element runs to its end tag.
            const bool found = platform::EqualIgnoringCase(tagName, sought_);
            if (k + 1 >= length_) return false;
            int64_t endTag = 0;
            int64_t after = 0;
            if (!ScanContent(k + 1, tagName, found, endTag, after)) return false;
            if (found) {
                contentStart = k + 1;
                contentEnd = endTag;
                restStart = after;
                return true;
            }
            p = after;  // an element of another name, skipped whole
        }
        return false;
    }

private:
    // Whether the bytes at `at` are exactly `marker` and lie within the range.
    bool StartsCdata(int64_t at, std::string_view marker) const {
        return at + static_cast<int64_t>(marker.size()) <= length_ &&
               std::memcmp(s_ + at, marker.data(), marker.size()) == 0;
    }

    // A CDATA section's text starts at `from`; on success `next` is the
    // position behind its "]]>".
    bool SkipCdata(int64_t from, int64_t& next) const {
        if (from >= length_) return false;
        for (int64_t q = from; q + 2 < length_; ++q) {
            const void* bracket = std::memchr(s_ + q, ']', static_cast<size_t>(length_ - 2 - q));
            if (bracket == nullptr) return false;
            q = static_cast<const char*>(bracket) - s_;
            if (s_[q + 1] == ']' && s_[q + 2] == '>') {
                next = q + 3;
                return true;
            }
        }
        return false;
    }

    // The position of the byte that ends the name starting at `from`, or -1
    // when the range ends first.
    template <typename Ends>
    int64_t ScanName(int64_t from, Ends ends) const {
        for (int64_t i = from; i < length_; ++i) {
            if (ends(s_[i])) return i;
        }
        return -1;
    }

    // Empty-element tags, declarations and comments at the top level.
    bool IsPassedOver(std::string_view name, int64_t k) const {
        const char before = s_[k - 1];
        if (before == '/' || before == '?') return true;
        if (name == "!--" && before == '-') return true;
        return k - 2 >= 0 && s_[k - 2] == '-';
    }

    // Scans the content of the element named `current` from `from` to its end
    // tag, counting nested elements of the sought name when `found`. Sets
    // `endTag` to the end tag's "<" and `after` behind the byte that ended its
    // name.
    bool ScanContent(int64_t from, std::string_view current, bool found, int64_t& endTag,
                     int64_t& after) const {
        int depth = 0;
        int64_t j = from;
        while (j < length_ - 1) {  // the last byte never starts a tag
            const void* open = std::memchr(s_ + j, '<', static_cast<size_t>(length_ - 1 - j));
            if (open == nullptr) return false;
            j = static_cast<const char*>(open) - s_;
            const char next = s_[j + 1];
            if (next == '!') {
                if (StartsCdata(j + 2, "[CDATA[")) {
                    if (!SkipCdata(j + 9, j)) return false;
                } else {
                    j += 2;  // a comment's text is scanned like any other
                }
                continue;
            }
            const bool isEndTag = next == '/';
            const int64_t nameStart = isEndTag ? j + 2 : j + 1;
            if (nameStart >= length_) return false;
            const int64_t t = ScanName(nameStart, EndsNameInContent);
            if (t < 0) return false;
            const std::string_view tagName(s_ + nameStart, static_cast<size_t>(t - nameStart));
            if (isEndTag && platform::EqualIgnoringCase(tagName, current)) {
                if (depth == 0) {
                    endTag = j;
                    after = t + 1;
                    return true;
                }
                --depth;
            } else if (!isEndTag && found && platform::EqualIgnoringCase(tagName, sought_)) {
                ++depth;
            }
            j = t + 1;
        }
        return false;
    }

    const char* s_;
    int64_t length_;
    std::string_view sought_;
};

}  // namespace

int FindXmlElement(XmlRange range, const char* name, XmlRange& content, XmlRange& rest) {
    rest = range;
    if (range.start == nullptr || range.length <= 0 || name == nullptr) return 0;
    int64_t contentStart = 0, contentEnd = 0, restStart = 0;
    if (!Scanner(range, name).Find(contentStart, contentEnd, restStart)) return 0;
    content = {range.start + contentStart, static_cast<int32_t>(contentEnd - contentStart)};
    rest = {range.start + restStart, static_cast<int32_t>(range.length - restStart)};
    return 1;
}

}  // namespace norrow::search
