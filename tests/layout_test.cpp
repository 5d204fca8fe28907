// The records of the host interface read as the 32-bit host reads them: as
// bytes at fixed offsets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "contract/plugin_interface.h"
#include "results/search_results.h"

namespace norrow::test {
namespace {

template <typename T>
T At(const void* record, size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const char*>(record) + offset, sizeof value);
    return value;
}

constexpr bool kHostLayout = sizeof(void*) == 4;

TEST(Layout, SearchRequestFieldsAtTheirOffsets) {
    if (!kHostLayout) GTEST_SKIP() << "the host's layout holds where pointers are 32-bit";
    SEARCHREQUEST request;
    std::memset(&request, 0xAB, sizeof request);
    const uint32_t ids[] = {5};
    request.header = 1;
    request.query = "abc";
    request.targetCount = 1;
    request.targetIds = ids;
    request.filter1 = -9999;
    request.filter2 = -9998;
    request.resultCount = 30;
    request.results = nullptr;
    request.hasBox = 1;
    request.box0 = 0.5;
    request.box1 = 1.5;
    request.box2 = 2.5;
    request.box3 = 3.5;
    EXPECT_EQ(At<int32_t>(&request, 0), 1);
    EXPECT_EQ(At<uintptr_t>(&request, 4), reinterpret_cast<uintptr_t>(request.query));
    EXPECT_EQ(At<int32_t>(&request, 8), 1);
    EXPECT_EQ(At<uintptr_t>(&request, 12), reinterpret_cast<uintptr_t>(ids));
    EXPECT_EQ(At<uint64_t>(&request, 16), 0xABABABABABABABABull) << "host-owned gap";
    EXPECT_EQ(At<int32_t>(&request, 24), -9999);
    EXPECT_EQ(At<int32_t>(&request, 28), -9998);
    EXPECT_EQ(At<int32_t>(&request, 32), 30);
    EXPECT_EQ(At<uint32_t>(&request, 36), 0xABABABABu) << "host-owned gap";
    EXPECT_EQ(At<uintptr_t>(&request, 40), 0u);
    EXPECT_EQ(At<int32_t>(&request, 44), 1);
    EXPECT_EQ(At<double>(&request, 48), 0.5);
    EXPECT_EQ(At<double>(&request, 56), 1.5);
    EXPECT_EQ(At<double>(&request, 64), 2.5);
    EXPECT_EQ(At<double>(&request, 72), 3.5);
}

TEST(Layout, SearchResultFieldsAtTheirOffsets) {
    if (!kHostLayout) GTEST_SKIP() << "the host's layout holds where pointers are 32-bit";
    results::ResetSearchResults();
    ASSERT_TRUE(results::AppendSearchResult("n", "y", "a", 139.5, 35.25, 0x01020304));
    const SEARCHRESULT* hit = results::searchResults.data;
    EXPECT_EQ(sizeof(SEARCHRESULT), 48u);
    EXPECT_EQ(At<double>(hit, 0), 35.25);
    EXPECT_EQ(At<double>(hit, 8), 139.5);
    EXPECT_EQ(At<uint64_t>(hit, 16), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(At<uintptr_t>(hit, 24)), "n");
    EXPECT_STREQ(reinterpret_cast<const char*>(At<uintptr_t>(hit, 28)), "a");
    EXPECT_STREQ(reinterpret_cast<const char*>(At<uintptr_t>(hit, 32)), "y");
    EXPECT_EQ(At<int32_t>(hit, 36), 919022);
    EXPECT_EQ(At<uint32_t>(hit, 40), 0x01020304u);
    EXPECT_EQ(At<uint32_t>(hit, 44), 0u);
    results::ResetSearchResults();
}

TEST(Layout, HookEntryIsFourWords) {
    if (!kHostLayout) GTEST_SKIP() << "the host's layout holds where pointers are 32-bit";
    HOOKENTRY entry{16, 7, nullptr, 0};
    EXPECT_EQ(sizeof entry, 16u);
    EXPECT_EQ(At<uint32_t>(&entry, 0), 16u);
    EXPECT_EQ(At<uint32_t>(&entry, 4), 7u);
    EXPECT_EQ(At<uint32_t>(&entry, 12), 0u);
}

}  // namespace
}  // namespace norrow::test
