// Name comparison in code page 932, and the list whose texts never move.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace norrow::test {
namespace {

using platform::EqualIgnoringCase;
using platform::StringList;

TEST(EqualIgnoringCase, FoldsAsciiLettersOnly) {
    const struct {
        std::string a, b;
        bool equal;
    } cases[] = {
        {"YDF", "ydf", true},
        {"ResultInfo", "resultinfo", true},
        {"", "", true},
        {"name", "names", false},
        {"names", "name", false},
        {"[", "{", false},  // 0x5B and 0x7B are no letters
        {"@", "`", false},
        {"\x83\x41", "\x83\x41", true},   // katakana a
        {"\x83\x41", "\x83\x61", false},  // second byte of a pair never folds
        {"x\x83\x41", "X\x83\x41", true},
        {"a\x83", "A\x83", true},  // a lone first byte at the end is one byte
        {"\xB1", "\xB1", true},    // half-width katakana
        {std::string("a\0b", 3), "a", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EqualIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    }
}

TEST(StringList, TextsStayWhereTheyAreWhileTheListGrows) {
    StringList list;
    list.SetGrowBy(64);
    std::vector<const char*> first;
    for (int i = 0; i < 200; ++i) {
        const std::string text = "t" + std::to_string(i);  // short: would live inside a std::string
        auto copy = StringList::Copy(text.c_str());
        list.ReserveOneMore();
        list.Adopt(std::move(copy));
        first.push_back(list[i]);
    }
    ASSERT_EQ(list.size(), 200);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(list[i], first[i]);
        EXPECT_EQ(std::string(first[i]), "t" + std::to_string(i));
    }
    list.RemoveAll();
    EXPECT_EQ(list.size(), 0);
}

}  // namespace
}  // namespace norrow::test
