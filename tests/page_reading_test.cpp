// The page read from its table: every text the table declares, found where
// it is, by the walk, by the plain reading, and by the plain reading where
// the walk is unsure.
#include "search/page_reading.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace norrow::test {
namespace {

using search::PageStrategy;

class CapturedHits final : public search::HitSink {
public:
    void Take(const search::Texts& hit) override { hits.push_back(hit); }
    std::vector<search::Texts> hits;
};

std::string Text(const search::XmlRange& range) {
    return range.start == nullptr ? "(absent)" : std::string(range.start, range.length);
}

TEST(PageReading, ReadsEveryTextOfTheTable) {
    // One row for each text of page_fields.h: whose it is, and its content in
    // the answer below.
    const struct {
        search::Text text;
        bool ofTheHit;
        const char* content;
    } rows[] = {
        {search::kTotal, false, "25"},  {search::kStatus, false, "200"},
        {search::kName, true, "n"},     {search::kCoordinates, true, "1,2"},
        {search::kYomi, true, "y"},     {search::kAddress, true, "a"},
    };
    static_assert(std::size(rows) == search::kTextCount, "a row for every text");
    const std::string body =
        "<ResultInfo><Total>25</Total><Status>200</Status></ResultInfo>"
        "<Feature><Name>n</Name><Geometry><Coordinates>1,2</Coordinates></Geometry>"
        "<Property><Yomi>y</Yomi><Address>a</Address></Property></Feature>";
    const struct {
        const char* what;
        std::string answer;
        PageStrategy strategy;
    } readings[] = {
        {"the walk", "<YDF>" + body + "</YDF>", PageStrategy::kWalk},
        {"the plain reading", "<YDF>" + body + "</YDF>", PageStrategy::kPlain},
        {"the walk, unsure of a comment", "<YDF><!-- -->" + body + "</YDF>", PageStrategy::kWalk},
    };
    for (const auto& reading : readings) {
        SCOPED_TRACE(reading.what);
        search::PageReading page;
        page.Read({reading.answer.data(), static_cast<int32_t>(reading.answer.size())},
                  reading.strategy);
        CapturedHits hits;
        page.HandHits(hits);
        ASSERT_TRUE(page.Page().ydf);
        ASSERT_EQ(hits.hits.size(), 1u);
        for (const auto& row : rows) {
            const search::Texts& texts = row.ofTheHit ? hits.hits[0] : page.Page().info;
            const search::Texts& other = row.ofTheHit ? page.Page().info : hits.hits[0];
            EXPECT_EQ(Text(texts[row.text]), row.content) << row.content;
            EXPECT_EQ(Text(other[row.text]), "(absent)") << row.content;
        }
    }
}

}  // namespace
}  // namespace norrow::test
