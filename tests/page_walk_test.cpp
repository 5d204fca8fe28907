// The page walk: sure where it should be, and then finding exactly what the
// plain reading finds; unsure where it must be.
#include "search/page_walk.h"

#include <string>
#include <vector>

#include "search/answer.h"
#include "search/page_search.h"
#include "support/search_support.h"
#include "testkit/page_generator.h"
#include "testkit/reading_outcome.h"

namespace norrow::test {
namespace {

using search::WalkVerdict;

class PageWalkTest : public PluginTest {
public:
    void SetUp() override {
        PluginTest::SetUp();
        search::geocoderTargetId = 7;
    }
};

class CountedHits final : public search::HitSink {
public:
    void Take(const search::Texts&) override { ++count; }
    int count = 0;
};

WalkVerdict Walk(const std::vector<char>& answer) {
    search::PageTexts page;
    CountedHits hits;
    return search::WalkPage({answer.data(), static_cast<int32_t>(answer.size())}, page, hits);
}

// The names of the hits of an outcome, in order.
std::vector<std::string> Names(const testkit::Outcome& outcome) {
    std::vector<std::string> names;
    for (size_t at = 0; at < outcome.hits.size();) {
        names.emplace_back(outcome.hits.c_str() + at);
        for (int text = 0; text < 3; ++text)
            at = outcome.hits.find('\0', at) + 1;  // name, yomi, address
        at += 8 + 8 + 4 + 4;                       // longitude, latitude, target id, attribute
    }
    return names;
}

const std::string kOk = "<ResultInfo><Total>9</Total><Status>200</Status></ResultInfo>";

std::string Page(const std::string& content) {
    return "<?xml version=\"1.0\"?>\n<YDF>" + content + "</YDF>";
}

std::string Feature(const std::string& content) { return "<Feature>" + content + "</Feature>"; }

TEST_F(PageWalkTest, FindsWhatThePlainReadingFinds) {
    const std::string hit = Feature(
        "<Name>n</Name><Geometry><Coordinates>1,2</Coordinates></Geometry>"
        "<Property><Yomi>y</Yomi><Address>a</Address></Property>");
    const struct {
        const char* what;
        std::string answer;
        WalkVerdict walk;
        std::vector<std::string> names;  // of the hits the reading appends
    } cases[] = {
        // Answers as the services send them, and ones the walk reads all the same.
        {"ResultInfo first", Page(kOk + hit + hit), WalkVerdict::kSure, {"n", "n"}},
        {"ResultInfo after the features: the hits wait for the status",
         Page(hit + kOk + hit),
         WalkVerdict::kSure,
         {"n", "n"}},
        {"a status that refuses the hits after them",
         Page(hit + "<ResultInfo><Status>500</Status></ResultInfo>"),
         WalkVerdict::kSure,
         {}},
        {"no ResultInfo", Page(hit), WalkVerdict::kSure, {}},
        {"letter case of names and end tags",
         "<ydf><RESULTINFO><status>200</STATUS></resultinfo>"
         "<feature><NAME>n</name></FEATURE></Ydf>",
         WalkVerdict::kSure,
         {"n"}},
        {"only the first Name counts",
         Page(kOk + Feature("<Name>1</Name><Name>2</Name>")),
         WalkVerdict::kSure,
         {"1"}},
        {"a second ResultInfo is skipped",
         Page(kOk + "<ResultInfo><Status>500</Status></ResultInfo>" + hit),
         WalkVerdict::kSure,
         {"n"}},
        {"a Name in a Station of the Property is not the hit's",
         Page(kOk +
              Feature("<Property><Station><Name>s</Name></Station></Property><Name>n</Name>")),
         WalkVerdict::kSure,
         {"n"}},
        {"empty-element tags, even of a sought name, are passed over",
         Page(kOk + Feature("<Name/><Gid/><Name a=\"1\"/><Name>n</Name>")),
         WalkVerdict::kSure,
         {"n"}},
        {"attributes",
         Page(kOk + "<Feature id=\"1\"><Name lang=\"ja\">n</Name></Feature>"),
         WalkVerdict::kSure,
         {"n"}},
        {"an end tag with a blank before >",
         Page(kOk + "<Feature><Name>n</Name ></Feature >"),
         WalkVerdict::kSure,
         {"n"}},
        {"a stray end tag inside a text",
         Page(kOk + Feature("<Name>a</b>c</Name>")),
         WalkVerdict::kSure,
         {"a</b>c"}},
        {"\"<>\" after a \"-\" before YDF: the byte two before > is \"-\", passed over",
         "-<><YDF>" + kOk + hit + "</YDF>",
         WalkVerdict::kSure,
         {"n"}},
        {"\"<>\" at the start: no byte two before its > in the range, an element with no name",
         "<><YDF>" + kOk + hit + "</YDF>",
         WalkVerdict::kUnsure,
         {}},
        {"a comment and a declaration before YDF",
         "<?xml version=\"1.0\"?><!-- made by hand --><YDF>" + kOk + hit + "</YDF>",
         WalkVerdict::kSure,
         {"n"}},
        {"a NUL in a text ends its copy",
         Page(kOk + Feature(std::string("<Name>a\0b</Name>", 16))),
         WalkVerdict::kSure,
         {"a"}},
        {"texts of 1024 bytes or more are absent",
         Page(kOk + Feature("<Name>" + std::string(1024, 'x') + "</Name>")),
         WalkVerdict::kSure,
         {""}},

        // Elements that never close where they should.
        {"an unclosed Geometry: the name stays, no coordinates, and the Property after it is lost",
         Page(kOk + Feature("<Name>n</Name><Geometry><Coordinates>1,2</Coordinates>"
                            "<Property><Yomi>y</Yomi></Property>")),
         WalkVerdict::kSure,
         {"n"}},
        {"a Feature that YDF's end cuts is no hit",
         "<YDF>" + kOk + hit + "<Feature><Name>m</Name></YDF>",
         WalkVerdict::kSure,
         {"n"}},
        {"a ResultInfo that YDF's end cuts: no status",
         "<YDF>" + hit + "<ResultInfo><Status>200</YDF>",
         WalkVerdict::kSure,
         {}},
        {"an element of another name that never closes hides what follows",
         Page(kOk + "<Skip>" + hit),
         WalkVerdict::kSure,
         {}},
        {"Shift-JIS names compare as a whole: the end tag does not close",
         Page(kOk + Feature("<\x83\x41>x</\x83\x61><Name>n</Name>")),
         WalkVerdict::kSure,
         {""}},
        {"an answer cut inside YDF has no YDF",
         Page(kOk + hit).substr(0, 60),
         WalkVerdict::kSure,
         {}},
        {"an answer cut inside a tag", Page(kOk + hit).substr(0, 100), WalkVerdict::kSure, {}},
        {"an answer whose last byte is \"<\"", "<YDF>" + kOk + "<", WalkVerdict::kSure, {}},
        {"an answer that ends behind \"</\"", "<YDF>" + kOk + "</", WalkVerdict::kSure, {}},
        {"a start tag passed over at the top level as a comment would be",
         Page(kOk + Feature("<b x=\"-\"><Name>n</Name>")),
         WalkVerdict::kSure,
         {"n"}},
        {"more hits than the walk holds: read in a second walk", Page([&] {
             std::string features;
             for (int i = 0; i < 40; ++i) features += hit;
             return features + kOk;
         }()),
         WalkVerdict::kSure, std::vector<std::string>(40, "n")},

        // What the walk leaves to the plain reading.
        {"a Feature inside a Feature",
         Page(kOk + Feature("<Name>n</Name>" + hit)),
         WalkVerdict::kUnsure,
         {"n"}},
        {"an empty-element tag with a blank inside its own element",
         Page(kOk + Feature("<Name>a<Name />b</Name></Name>")),
         WalkVerdict::kUnsure,
         {"a<Name />b</Name>"}},
        {"a comment inside YDF", Page(kOk + "<!-- </YDF> -->" + hit), WalkVerdict::kUnsure, {}},
        {"a CDATA section",
         Page(kOk + Feature("<Name><![CDATA[</Name>]]></Name>")),
         WalkVerdict::kUnsure,
         {"<![CDATA[</Name>]]>"}},
        {"a stray end tag between the children of a Feature",
         Page(kOk + Feature("</b><Name>n</Name>")),
         WalkVerdict::kUnsure,
         {""}},
        {"the end tag of a start tag passed over",
         Page(kOk + Feature("<b x=\"-\"><Name>n</Name></b>")),
         WalkVerdict::kUnsure,
         {"n"}},
        {"a \"<\" among the attributes",
         Page(kOk + "<Feature a=\"<\"><Name>n</Name></Feature>"),
         WalkVerdict::kUnsure,
         {"n"}},
        {"\"/\" inside a start tag's name",
         Page(kOk + Feature("<Name/x>n</Name>")),
         WalkVerdict::kUnsure,
         {"n"}},
        {"an element before YDF",
         "<xml>x</xml><YDF>" + kOk + hit + "</YDF>",
         WalkVerdict::kUnsure,
         {"n"}},
        {"a processing instruction inside YDF",
         Page("<?pi?>" + kOk + hit),
         WalkVerdict::kUnsure,
         {"n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<char> answer(c.answer.begin(), c.answer.end());
        EXPECT_EQ(Walk(answer), c.walk);
        const testkit::Outcome plain = testkit::Read(search::PageStrategy::kPlain, answer);
        const testkit::Outcome walked = testkit::Read(search::PageStrategy::kWalk, answer);
        EXPECT_EQ(Names(plain), c.names);
        EXPECT_EQ(walked.read, plain.read);
        EXPECT_EQ(walked.total, plain.total);
        EXPECT_EQ(walked.statusLines, plain.statusLines);
        EXPECT_EQ(walked.boxes, plain.boxes);
        EXPECT_EQ(walked.hits, plain.hits);
    }
}

// The answer keeps the reading of its bytes only while they are the same.
TEST_F(PageWalkTest, AnAnswerReadsItsBytesAsTheyAre) {
    search::Answer answer;
    const std::string noYdf = "<?xml version=\"1.0\"?><Other/>";
    char* bytes = static_cast<char*>(::operator new(noYdf.size()));
    noYdf.copy(bytes, noYdf.size());
    answer.TakeHostBuffer(bytes, static_cast<int32_t>(noYdf.size()));
    EXPECT_FALSE(answer.Reading().Page().ydf);
    answer.Replace(Page(kOk + Feature("<Name>n</Name>")));
    EXPECT_TRUE(answer.Reading().Page().ydf);
    CountedHits hits;
    answer.Reading().HandHits(hits);
    EXPECT_EQ(hits.count, 1);
}

// Generated answers, most of them such as a service could send: the two
// readings agree on every one, and the walk is sure of most.
TEST_F(PageWalkTest, AgreesOnGeneratedAnswers) {
    uint32_t state = 18;
    int sure = 0;
    constexpr int kAnswers = 3000;
    for (int i = 0; i < kAnswers; ++i) {
        std::vector<uint8_t> bytes(64 + i % 512);
        for (uint8_t& byte : bytes) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<uint8_t>(state >> 24);
        }
        const std::string text = testkit::GeneratedAnswer(bytes.data(), bytes.size());
        const std::vector<char> answer(text.begin(), text.end());
        sure += Walk(answer) == WalkVerdict::kSure;
        ASSERT_TRUE(testkit::Read(search::PageStrategy::kWalk, answer) ==
                    testkit::Read(search::PageStrategy::kPlain, answer))
            << i << ": " << text;
    }
    EXPECT_GT(sure, kAnswers / 2);
    std::printf("[ page walk ] sure of %d of %d generated answers\n", sure, kAnswers);
}

}  // namespace
}  // namespace norrow::test
