// Finding elements in service answers without an XML parser.
#include "search/xml_locator.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace norrow::test {
namespace {

using search::FindXmlElement;
using search::XmlRange;

struct Result {
    int found;
    std::string content;  // meaningful when found
    int32_t restStart;    // offset in the range
    int32_t restLength;
};

// Searches a copy of `text` held in a buffer of exactly its size, so that a
// read past the range shows under AddressSanitizer.
Result Find(const std::string& text, const char* name) {
    std::vector<char> buffer(text.begin(), text.end());
    const XmlRange range{buffer.data(), static_cast<int32_t>(buffer.size())};
    XmlRange content{nullptr, -1};
    XmlRange rest{nullptr, -1};
    const int found = FindXmlElement(range, name, content, rest);
    Result result{found, "", static_cast<int32_t>(rest.start - range.start), rest.length};
    if (found) {
        EXPECT_GE(content.start, range.start);
        EXPECT_LE(content.start + content.length, range.start + range.length);
        result.content.assign(content.start, static_cast<size_t>(content.length));
    } else {
        EXPECT_EQ(rest.start, range.start);
        EXPECT_EQ(rest.length, range.length);
    }
    return result;
}

TEST(FindXmlElement, ByteExactPositions) {
    const std::string pair = "<Count>10</Count><Total>25</Total>";
    ASSERT_EQ(pair.size(), 34u);
    const std::vector<char> buffer(pair.begin(), pair.end());
    XmlRange content{}, rest{};
    ASSERT_EQ(FindXmlElement({buffer.data(), 34}, "count", content, rest), 1);
    EXPECT_EQ(content.start - buffer.data(), 7);
    EXPECT_EQ(content.length, 2);
    EXPECT_EQ(rest.start - buffer.data(), 17);
    EXPECT_EQ(rest.length, 17);

    ASSERT_EQ(FindXmlElement({buffer.data(), 34}, "total", content, rest), 1);
    EXPECT_EQ(content.start - buffer.data(), 24);
    EXPECT_EQ(content.length, 2);
    EXPECT_EQ(rest.start - buffer.data(), 34);
    EXPECT_EQ(rest.length, 0);
}

TEST(FindXmlElement, Cases) {
    const struct {
        const char* what;
        std::string text;
        const char* name;
        int found;
        std::string content;
    } cases[] = {
        {"only the top level", "<ResultInfo><Count>10</Count></ResultInfo>", "count", 0, ""},
        {"parent first", "<ResultInfo><Count>10</Count></ResultInfo>", "resultinfo", 1,
         "<Count>10</Count>"},
        {"nested same name", "<Feature><Feature>x</Feature></Feature>", "feature", 1,
         "<Feature>x</Feature>"},
        {"case", "<Ydf>a</Ydf>", "YDF", 1, "a"},
        {"end tag in other case", "<ydf>a</YDF>", "YDF", 1, "a"},
        {"a name is no prefix", "<names>x</names><name>y</name>", "name", 1, "y"},
        {"declaration", "<?xml version=\"1.0\"?>\n<YDF>a</YDF>", "YDF", 1, "a"},
        {"empty element passed over", "<name/><name>x</name>", "name", 1, "x"},
        {"comment", "<!-- c --><a>x</a>", "a", 1, "x"},
        {"comment without blank", "<!--c--><a>x</a>", "a", 1, "x"},
        {"comment holding >", "<!-- a > b --><a>x</a>", "a", 0, ""},
        {"CDATA at the top level", "<![CDATA[</a><a>]]><a>x</a>", "a", 1, "x"},
        {"CDATA in content", "<a><![CDATA[</a>]]>y</a>", "a", 1, "<![CDATA[</a>]]>y"},
        {"CDATA never closed", "<![CDATA[ <a>x</a>", "a", 0, ""},
        {"comment in content is text", "<a><!-- </a> -->x</a>", "a", 1, "<!-- "},
        {"attributes", "<a href=\"x\">t</a>", "a", 1, "t"},
        {"> in an attribute", "<a title=\"x>y\">t</a>", "a", 1, "y\">t"},
        {"- two before >", "<b x=\"-\"><a>t</a></b><c>u</c>", "c", 0, ""},
        {"- two before >, child seen", "<b x=\"-\"><a>t</a></b>", "a", 1, "t"},
        {"start tag then end tag", "<a></a>", "a", 1, ""},
        {"doctype", "<!DOCTYPE x><a>t</a>", "a", 0, ""},
        {"stray end tag", "</z><a>t</a>", "a", 0, ""},
        {"nested a/ not counted", "<a><a/>t</a>", "a", 1, "<a/>t"},
        {"nested a / counted", "<a><a />t</a>x</a>", "a", 1, "<a />t</a>x"},
        {"skipped element hides its children", "<x><a>t</a></x>", "a", 0, ""},
        {"skip ends at first end tag", "<x><x></x><a>t</a></x>", "a", 1, "t"},
        {"double-byte names compare whole", "<\x83\x41>x</\x83\x61>", "\x83\x41", 0, ""},
        {"double-byte names", "<\x83\x41>x</\x83\x41>", "\x83\x41", 1, "x"},
        {"last byte <", "abc<", "a", 0, ""},
        {"unterminated name", "<a>x</a", "a", 0, ""},
        {"no > for the tag", "<a", "a", 0, ""},
        {"nothing after >", "<a>", "a", 0, ""},
        {"content runs out", "<a>x<", "a", 0, ""},
        {"empty", "", "a", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result result = Find(c.text, c.name);
        EXPECT_EQ(result.found, c.found);
        if (c.found) {
            EXPECT_EQ(result.content, c.content);
        }
    }
}

TEST(FindXmlElement, RestStartsBehindTheEndTagName) {
    const Result blank = Find("<a>x</a >rest", "a");
    ASSERT_EQ(blank.found, 1);
    EXPECT_EQ(blank.restStart, 8);  // at the ">"
    EXPECT_EQ(blank.restLength, 5);
}

TEST(FindXmlElement, WalksSiblings) {
    const std::string text =
        "<YDF><Feature>1</Feature>\n<Feature>2</Feature><X/><Feature>3</Feature></YDF>";
    XmlRange ydf{}, rest{};
    ASSERT_EQ(FindXmlElement({text.data(), static_cast<int32_t>(text.size())}, "YDF", ydf, rest),
              1);
    XmlRange position = ydf;
    std::vector<std::string> seen;
    XmlRange feature{};
    while (FindXmlElement(position, "feature", feature, rest) == 1) {
        seen.emplace_back(feature.start, static_cast<size_t>(feature.length));
        position = rest;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3"}));
}

TEST(FindXmlElement, ReadsNothingBeyondItsRange) {
    const std::string text = "<a>x</a><b>y</b>";
    for (int32_t length = -5; length < static_cast<int32_t>(text.size()); ++length) {
        std::vector<char> exact(text.begin(), text.begin() + std::max(length, 0));
        XmlRange content{}, rest{};
        const int found = FindXmlElement({exact.data(), length}, "b", content, rest);
        EXPECT_EQ(found, 0) << length;  // the end tag of b is never whole
        EXPECT_EQ(rest.length, length);
    }
}

TEST(FindXmlElement, AdversarialInputsEndInOnePass) {
    const std::string angles(1 << 20, '<');
    EXPECT_EQ(Find(angles, "a").found, 0);

    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    EXPECT_EQ(Find(deep, "a").found, 0);
    EXPECT_EQ(Find(deep, "b").found, 0);
    for (int i = 0; i < 100000; ++i) deep += "</a>";
    const Result whole = Find(deep, "a");
    ASSERT_EQ(whole.found, 1);
    EXPECT_EQ(whole.content.size(), deep.size() - 7);
    EXPECT_EQ(whole.restLength, 0);

    std::string skipped;
    for (int i = 0; i < 50000; ++i) skipped += "<s>x</s>";
    skipped += "<a>t</a>";
    EXPECT_EQ(Find(skipped, "a").content, "t");
}

// The invariants the callers rely on, over many small random texts.
TEST(FindXmlElement, RandomTextsKeepTheInvariants) {
    const char alphabet[] = "<>/!-?[]CDAT ab";
    std::mt19937 random(11);
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 40, ' ');
        for (char& c : text) c = alphabet[random() % (sizeof alphabet - 1)];
        const Result result = Find(text, round % 2 ? "a" : "CDATA");
        EXPECT_GE(result.restStart, 0);
        EXPECT_EQ(result.restStart + result.restLength, static_cast<int32_t>(text.size()));
    }
}

}  // namespace
}  // namespace norrow::test
