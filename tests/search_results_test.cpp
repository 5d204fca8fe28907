// The store of hits: growth, the life of the texts, and running out of memory.
#include "results/search_results.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/failing_allocator.h"

namespace norrow::test {
namespace {

using namespace results;

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSearchResults(); }
    void TearDown() override { ResetSearchResults(); }

    static void ExpectEqualLengths() {
        EXPECT_EQ(NameList.size(), searchResults.size);
        EXPECT_EQ(YomiList.size(), searchResults.size);
        EXPECT_EQ(AddressList.size(), searchResults.size);
    }
};

TEST_F(StoreTest, ResetEmptiesAndSetsTheStep) {
    ASSERT_TRUE(AppendSearchResult("n", "y", "a", 1, 2, 3));
    ResetSearchResults();
    EXPECT_EQ(searchResults.data, nullptr);
    EXPECT_EQ(searchResults.size, 0);
    EXPECT_EQ(searchResults.maxSize, 0);
    EXPECT_EQ(searchResults.growBy, 64);
    ExpectEqualLengths();
}

// The block grows by a share of itself, not by the growth step: appending n
// hits moves the records only a few times (a growth by 64 moved them n / 64
// times, and the appends took time quadratic in n).
TEST_F(StoreTest, ManyHitsMoveTheRecordsOnlyNowAndThen) {
    int moves = 0;
    const SEARCHRESULT* block = nullptr;
    for (int i = 0; i < 20000; ++i) {
        ASSERT_TRUE(AppendSearchResult("n", "", "", i, 0, 1));
        if (searchResults.data != block) ++moves;
        block = searchResults.data;
    }
    EXPECT_LE(moves, 30);
    EXPECT_EQ(searchResults.size, 20000);
    EXPECT_EQ(searchResults.data[19999].longitude, 19999);
    ExpectEqualLengths();
}

TEST_F(StoreTest, RecordsPointIntoTheListsAndStayValid) {
    ASSERT_TRUE(AppendSearchResult("Fuji", "", "Shizuoka", 138.7274, 35.3606, 7));
    const SEARCHRESULT first = searchResults.data[0];
    for (int i = 1; i < 200; ++i) {
        const std::string text = "hit" + std::to_string(i);
        ASSERT_TRUE(AppendSearchResult(text.c_str(), "y", "a", i, -i, 8));
    }
    const SEARCHRESULT& hit = searchResults.data[0];
    EXPECT_EQ(hit.name, first.name) << "a text moved";
    EXPECT_STREQ(hit.name, "Fuji");
    EXPECT_STREQ(hit.address, "Shizuoka");
    ASSERT_NE(hit.yomi, nullptr);
    EXPECT_STREQ(hit.yomi, "");
    EXPECT_EQ(hit.longitude, 138.7274);
    EXPECT_EQ(hit.latitude, 35.3606);
    EXPECT_EQ(hit.attribute, 919022);
    EXPECT_EQ(hit.targetId, 7u);
    const unsigned char zero[8] = {};
    EXPECT_EQ(std::memcmp(hit.extra, zero, 8), 0);
    EXPECT_EQ(std::memcmp(hit.reserved, zero, 4), 0);
    EXPECT_EQ(searchResults.size, 200);
    EXPECT_STREQ(searchResults.data[199].name, "hit199");
    EXPECT_EQ(searchResults.data[199].name, NameList[199]);
    ExpectEqualLengths();
}

TEST(SearchResultArray, ShrinkingKeepsTheBlockAndGrowingZeroFills) {
    SearchResultArray array;
    array.SetSize(10);
    for (int i = 0; i < 10; ++i) array.data[i].attribute = 100 + i;
    SEARCHRESULT* block = array.data;
    array.SetSize(5);
    EXPECT_EQ(array.data, block);
    EXPECT_EQ(array.maxSize, 10);
    EXPECT_EQ(array.data[7].attribute, 107) << "beyond the size, left as it was";
    array.SetSize(8);
    EXPECT_EQ(array.data, block);
    EXPECT_EQ(array.data[4].attribute, 104);
    EXPECT_EQ(array.data[7].attribute, 0);
    array.SetSize(12);  // grows: moves, keeps the elements in use
    EXPECT_EQ(array.data[4].attribute, 104);
    EXPECT_EQ(array.data[11].attribute, 0);
    array.SetSize(0);
    EXPECT_EQ(array.data, nullptr);
    EXPECT_EQ(array.maxSize, 0);
}

// Every allocation of an append can fail; none may leave the lists longer
// than the array, and the store must work again afterwards.
TEST_F(StoreTest, RunningOutOfMemoryAppendsNothing) {
    for (int i = 0; i < 65; ++i) ASSERT_TRUE(AppendSearchResult("n", "y", "a", 0, 0, 1));
    long points = 0;
    for (long failAt = 1;; ++failAt) {
        bool appended;
        {
            FailingAllocations failing(failAt);
            appended = AppendSearchResult("name", "yomi", "address", 1, 2, 3);
            points = failing.Seen();
        }
        ExpectEqualLengths();
        if (appended) break;
        EXPECT_EQ(searchResults.size, 65);
        EXPECT_STREQ(searchResults.data[64].name, "n");
    }
    EXPECT_GE(points, 4) << "three copies and the grown block at least";
    EXPECT_EQ(searchResults.size, 66);
    EXPECT_STREQ(searchResults.data[65].name, "name");
}

}  // namespace
}  // namespace norrow::test
