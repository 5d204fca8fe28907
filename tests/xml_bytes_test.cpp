// The byte scanning under the page walk: the word-at-a-time tricks give what
// a byte-by-byte reading gives, at every alignment and at the buffer's end.
#include "search/xml_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace norrow::test {
namespace {

namespace bytes = search::bytes;

// Names of every length up to three words, of bytes that end no name:
// letters, the bytes around the 0x3F limit, and Shift-JIS.
std::string NameOf(size_t length, char filler) { return std::string(length, filler); }

TEST(XmlBytes, NameEndByWordsFindsWhatTheByteLoopFinds) {
    const char fillers[] = {'a', '?', '@', '\x83', '\xFF', '-', '9'};
    const char ends[] = {' ', '\t', '\n', '\r', '>', '/', '<'};
    for (const auto* set : {&bytes::kNameEnds.topLevelOrTag, &bytes::kNameEnds.contentOrTag}) {
        for (char filler : fillers) {
            for (size_t length = 0; length <= 3 * sizeof(bytes::Word); ++length) {
                for (char end : ends) {
                    const std::string text = NameOf(length, filler) + end + "x>";
                    const std::vector<char> buffer(text.begin(), text.end());
                    const char* from = buffer.data();
                    const char* last = from + buffer.size();
                    EXPECT_EQ(bytes::NameEndByWords(from, last, *set), bytes::NameEnd(from, last, *set))
                        << length << " x " << int(filler) << " then " << int(end);
                }
                const std::vector<char> unended(length, filler);  // runs to the end
                EXPECT_EQ(bytes::NameEndByWords(unended.data(), unended.data() + length, *set),
                          nullptr);
            }
        }
    }
}

TEST(XmlBytes, SameBytesComparesOnlyTheNames) {
    for (size_t length = 0; length <= 2 * sizeof(bytes::Word) + 1; ++length) {
        for (const size_t behind : {size_t{0}, sizeof(bytes::Word)}) {  // bytes after the names
            // "<name>" twice, the second name differing from the first at `differ`
            // (or nowhere), and in the byte behind it always.
            for (size_t differ = 0; differ <= length; ++differ) {
                std::string a = NameOf(length, 'n'), b = a;
                if (differ < length) b[differ] = 'N';
                std::string text = a + "1" + b + "2" + std::string(behind, '.');
                const std::vector<char> buffer(text.begin(), text.end());
                const char* end = buffer.data() + buffer.size() - behind;
                const std::string_view first(buffer.data(), length);
                const std::string_view second(buffer.data() + length + 1, length);
                EXPECT_EQ(bytes::SameBytes(first, second, end), differ == length)
                    << length << " bytes, differing at " << differ << ", " << behind << " behind";
            }
        }
    }
    const std::string text = "abcab";
    EXPECT_FALSE(bytes::SameBytes({text.data(), 3}, {text.data() + 3, 2}, text.data() + 5));
}

TEST(XmlBytes, EndTagNamed) {
    const struct {
        const char* text;
        const char* name;
        int nameEnd;  // offset of the byte returned, or -1 for null
    } cases[] = {
        {"</Name>", "Name", 6},
        {"</Name >", "Name", 6},
        {"</Name\n>", "Name", 6},
        {"</Names>", "Name", -1},
        {"</name>", "Name", -1},  // exact bytes only; the walk compares case itself
        {"</Nam>", "Name", -1},
        {"</Name", "Name", -1},  // no byte behind the name
        {"</Name/>", "Name", -1},  // "/" ends no name in content
        {"<Name>", "Name", -1},
        {"<", "Name", -1},
        {"</>", "", 2},
    };
    for (const auto& c : cases) {
        const std::string text = c.text;
        const std::vector<char> buffer(text.begin(), text.end());
        const char* found = bytes::EndTagNamed(buffer.data(), buffer.data() + buffer.size(), c.name,
                                               bytes::kNameEnds.content);
        EXPECT_EQ(found == nullptr ? -1 : static_cast<int>(found - buffer.data()), c.nameEnd)
            << c.text;
    }
}

}  // namespace
}  // namespace norrow::test
