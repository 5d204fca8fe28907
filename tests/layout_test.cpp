// A hit's record as the 32-bit host reads it: bytes at fixed offsets (which
// the contract's static_asserts hold), holding what the store wrote there.
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

TEST(Layout, AHitAsTheHostReadsIt) {
    if (!kHostLayout) GTEST_SKIP() << "the host's layout holds where pointers are 32-bit";
    results::ResetSearchResults();
    ASSERT_TRUE(results::AppendSearchResult("n", "y", "a", 139.5, 35.25, 0x01020304));
    const SEARCHRESULT* hit = results::searchResults.data;
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

}  // namespace
}  // namespace norrow::test
