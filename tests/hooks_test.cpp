// The plug-in driven as the host drives it: Create, Load, event 1003 to each
// hook, event 1007 with a SEARCHREQUEST.
#include "search/hooks.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "contract/plugin_interface.h"
#include "plugin/entry.h"
#include "results/search_results.h"
#include "platform/platform.h"
#include "search/page_search.h"
#include "serverinfo/server_info.h"
#include "support/nested_search.h"
#include "support/search_support.h"

namespace norrow::test {
namespace {

using results::searchResults;

class HooksTest : public PluginTest {
public:
    void SetUp() override {
        PluginTest::SetUp();
        PLUGININFO info;
        ASSERT_EQ(plugin::Create(&info, 0x5150), 1);
        ASSERT_EQ(search::Load(plugin::pluginHandle), 1);
        const auto hooks = Calls(StandIn_FnAddHook);
        ASSERT_EQ(hooks.size(), 2u);
        address_ = hooks[0]->hook.hookProc;
        local_ = hooks[1]->hook.hookProc;
        StandIn_SetNextTargetId(101);
        EXPECT_EQ(address_(kEventRegisterTarget, nullptr, nullptr), 0);
        EXPECT_EQ(local_(kEventRegisterTarget, nullptr, nullptr), 0);
        UseServerInfo(1);
    }

    static constexpr uint32_t kAddress = 101;
    static constexpr uint32_t kLocal = 102;
    TSI_HOOKPROC address_ = nullptr;
    TSI_HOOKPROC local_ = nullptr;
};

TEST_F(HooksTest, LoadRegistersTwoHooksAddressSearchFirst) {
    const auto hooks = Calls(StandIn_FnAddHook);
    for (const StandIn_Call* call : hooks) {
        EXPECT_EQ(call->value, 7);
        EXPECT_EQ(call->hook.size, sizeof(HOOKENTRY));  // 16 in the host's 32-bit layout
        EXPECT_EQ(call->hook.pluginHandle, 0x5150u);
        EXPECT_EQ(call->hook.reserved, 0u);
    }
    EXPECT_EQ(hooks[0]->hook.hookProc, &search::GeocoderHookProc);
    EXPECT_EQ(hooks[1]->hook.hookProc, &search::LocalSearchHookProc);
}

TEST_F(HooksTest, EachHookRegistersItsTarget) {
    const auto inserts = Calls(StandIn_FnInsertSearchTarget);
    ASSERT_EQ(inserts.size(), 2u);
    EXPECT_EQ(std::string(inserts[0]->text), Sjis(u8"Yahoo!住所検索"));
    EXPECT_EQ(std::string(inserts[1]->text), Sjis(u8"Yahoo!ローカルサーチ"));
    for (const StandIn_Call* call : inserts) {
        EXPECT_EQ(call->args[0], 0u);
        EXPECT_EQ(call->args[1], 2u);
        EXPECT_EQ(call->args[3], 0u);
    }
    EXPECT_EQ(search::geocoderTargetId, kAddress);
    EXPECT_EQ(search::localTargetId, kLocal);

    StandIn_SetNextTargetId(500);
    EXPECT_EQ(address_(kEventRegisterTarget, nullptr, nullptr), 0);
    EXPECT_EQ(search::geocoderTargetId, 500u) << "registered anew";
    StandIn_SetNextTargetId(0);  // the host gives no id
    EXPECT_EQ(local_(kEventRegisterTarget, nullptr, nullptr), 0);
    EXPECT_EQ(search::localTargetId, 0u);
    Request request("abc", {0});
    EXPECT_EQ(local_(kEventSearch, nullptr, &request.record), 0);
    EXPECT_TRUE(RequestedPaths().empty());
}

TEST_F(HooksTest, RequestsNotForTheTargetAreLeftAlone) {
    const uint32_t other = 999;
    std::vector<uint32_t> beyond = {other, kAddress};
    const struct {
        const char* what;
        int32_t count;
        const uint32_t* ids;
    } cases[] = {
        {"no targets", 0, beyond.data()},
        {"negative count", -1, beyond.data()},
        {"only beyond the count", 1, beyond.data()},
        {"no id array", 3, nullptr},
    };
    for (const auto& c : cases) {
        Request request;
        request.record.targetCount = c.count;
        request.record.targetIds = c.ids;
        EXPECT_EQ(address_(kEventSearch, nullptr, &request.record), 0) << c.what;
    }
    Request request("abc", {kAddress});
    EXPECT_EQ(address_(1005, nullptr, &request.record), 0) << "another event";
    EXPECT_EQ(address_(kEventSearch, nullptr, nullptr), 0);
    EXPECT_TRUE(RequestedPaths().empty());
}

TEST_F(HooksTest, BeforeRegistrationNothingIsSearched) {
    search::geocoderTargetId = 0;
    Request request("abc", {0});
    EXPECT_EQ(address_(kEventSearch, nullptr, &request.record), 0);
    EXPECT_TRUE(RequestedPaths().empty());
}

TEST_F(HooksTest, OnePageWithTheInitialLimit) {
    QueueGet(Ydf(Hits(10), "1000"));
    Request request("abc", {7, kAddress});
    EXPECT_EQ(address_(kEventSearch, nullptr, &request.record), 1);
    EXPECT_EQ(RequestedPaths().size(), 1u);
    EXPECT_EQ(request.record.resultCount, 10);
}

TEST_F(HooksTest, PagesUpToTheTotal) {
    serverinfo::serverInfo.maxPage = 3;
    QueueGet(Ydf(Hits(10, "a"), "25"));
    QueueGet(Ydf(Hits(10, "b"), "25"));
    QueueGet(Ydf(Hits(5, "c"), "25"));
    Request request("abc", {kLocal});
    int context = 0;  // the host's, passed on to each request as it is
    EXPECT_EQ(local_(kEventSearch, &context, &request.record), 1);
    const auto paths = RequestedPaths();
    ASSERT_EQ(paths.size(), 3u);
    for (const StandIn_Call* get : Calls(StandIn_FnHttpRequest2)) {
        EXPECT_EQ(get->http.hostContext, &context);
    }
    EXPECT_EQ(paths[0].find("start="), std::string::npos);
    EXPECT_NE(paths[1].find("&start=11&"), std::string::npos);
    EXPECT_NE(paths[2].find("&start=21&"), std::string::npos);
    ASSERT_EQ(request.record.resultCount, 25);
    EXPECT_EQ(request.record.results, searchResults.data);
    EXPECT_STREQ(request.record.results[0].name, "a1");
    EXPECT_STREQ(request.record.results[24].name, "c5");
    EXPECT_EQ(request.record.results[24].targetId, kLocal);
}

TEST_F(HooksTest, StopsAtTheLimitAndWhenTheTotalIsReached) {
    const struct {
        int32_t maxPage;
        int hitsPerPage;
        const char* total;
        size_t pages;
    } cases[] = {
        {10, 10, "0", 1},   // nothing to fetch
        {10, 10, "10", 1},  // the first page holds all
        {0, 10, "50", 1},   // a limit below 1 acts as 1
        {-3, 10, "50", 1},
        {3, 0, "50", 3},  // pages without hits: the same offset again, up to the limit
        {2, 10, "50", 2},
    };
    for (const auto& c : cases) {
        SetUp();
        serverinfo::serverInfo.maxPage = c.maxPage;
        for (int i = 0; i < 12; ++i) QueueGet(Ydf(Hits(c.hitsPerPage), c.total));
        Request request("abc", {kAddress});
        EXPECT_EQ(address_(kEventSearch, nullptr, &request.record), 1);
        EXPECT_EQ(RequestedPaths().size(), c.pages) << c.maxPage << " " << c.total;
        if (c.hitsPerPage == 0 && c.pages > 1) {
            EXPECT_EQ(RequestedPaths()[1], RequestedPaths()[0]) << "no hits: same offset";
        }
    }
}

TEST_F(HooksTest, AFailingSecondPageKeepsTheFirst) {
    serverinfo::serverInfo.maxPage = 3;
    QueueGet(Ydf(Hits(10), "30"));
    QueueReply(StandIn_Get, 1, "");
    Request request("abc", {kAddress});
    EXPECT_EQ(address_(kEventSearch, nullptr, &request.record), 0);
    EXPECT_EQ(searchResults.size, 10);
    EXPECT_EQ(request.record.resultCount, 10);
    EXPECT_EQ(request.record.results, searchResults.data);
}

TEST_F(HooksTest, ARequestForBothTargetsEndsWithTheLastOnesHits) {
    QueueGet(Ydf(Hits(3, "address"), "3"));
    QueueGet(Ydf(Hits(2, "local"), "2"));
    Request request("abc", {kAddress, kLocal});
    char contexts[2];
    EXPECT_EQ(address_(kEventSearch, &contexts[0], &request.record), 1);
    EXPECT_EQ(request.record.resultCount, 3);
    EXPECT_EQ(local_(kEventSearch, &contexts[1], &request.record), 1);
    const auto gets = Calls(StandIn_FnHttpRequest2);
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[0]->http.hostContext, &contexts[0]);
    EXPECT_EQ(gets[1]->http.hostContext, &contexts[1]);
    ASSERT_EQ(request.record.resultCount, 2);
    EXPECT_STREQ(request.record.results[0].name, "local1");
    EXPECT_EQ(request.record.results[1].targetId, kLocal);
}

// A download made by the first page brings the limit the search goes on with.
TEST_F(HooksTest, AFreshLimitAppliesToTheSearchInProgress) {
    serverinfo::serverInfo.valid = 0;
    QueuePost("SERVERINFO\nGEOCODER geo.example,/geocoder,,80,GEO-ID\nMAXPAGE 2\n");
    QueueGet(Ydf(Hits(10), "40"));
    QueueGet(Ydf(Hits(10), "40"));
    Request request("abc", {kAddress});
    EXPECT_EQ(address_(kEventSearch, nullptr, &request.record), 1);
    EXPECT_EQ(RequestedPaths().size(), 2u);
    EXPECT_EQ(request.record.resultCount, 20);
}

// The host's record may be larger than the plug-in's part of it; the plug-in
// writes resultCount and results and no other byte.
TEST_F(HooksTest, OnlyTheResultFieldsOfTheRequestAreWritten) {
    alignas(8) unsigned char bytes[256];
    std::memset(bytes, 0xA5, sizeof bytes);
    auto* record = reinterpret_cast<SEARCHREQUEST*>(bytes);
    const Request model("abc", {kAddress});
    record->header = model.record.header;
    record->query = model.record.query;
    record->targetCount = model.record.targetCount;
    record->targetIds = model.record.targetIds;
    record->filter1 = model.record.filter1;
    record->filter2 = model.record.filter2;
    record->hasBox = 0;
    unsigned char before[sizeof bytes];
    std::memcpy(before, bytes, sizeof bytes);

    QueueGet(Ydf(Hits(2), "2"));
    EXPECT_EQ(address_(kEventSearch, nullptr, record), 1);
    EXPECT_EQ(record->resultCount, 2);
    const size_t count = offsetof(SEARCHREQUEST, resultCount);
    const size_t results = offsetof(SEARCHREQUEST, results);
    for (size_t i = 0; i < sizeof bytes; ++i) {
        const bool written = (i >= count && i < count + sizeof(int32_t)) ||
                             (i >= results && i < results + sizeof(SEARCHRESULT*));
        if (!written) {
            EXPECT_EQ(bytes[i], before[i]) << "byte " << i;
        }
    }
}

// The host calls a hook or About again while a search waits in its HTTP
// function or in one of the plug-in's boxes: a search is refused at once, and
// the one running ends as it would have alone.
TEST_F(HooksTest, ASearchInsideASearchIsRefused) {
    for (const Nesting& nesting : kNestings) {
        HostView views[2];
        for (const bool callBack : {false, true}) {
            SetUp();
            serverinfo::serverInfo.valid = 0;  // the first search after Create downloads
            platform::System().messageBox = platform::NativeSystem().messageBox;
            const HeldPlugin plugin{{address_, local_}, {kAddress, kLocal}, &plugin::About};
            views[callBack] = SearchCalledBack(plugin, nesting, callBack);
        }
        ExpectUndisturbed(views[0], views[1], nesting);
    }
}

TEST_F(HooksTest, ReleaseAfterASearchSavesTheDownloadTime) {
    serverinfo::serverInfo.valid = 0;
    SetNow(1900000000);
    QueuePost("SERVERINFO\nGEOCODER geo.example,/geocoder,,80,GEO-ID\n");
    QueueGet(Ydf(Hits(1), "1"));
    Request request("abc", {kAddress});
    ASSERT_EQ(address_(kEventSearch, nullptr, &request.record), 1);
    EXPECT_EQ(plugin::Release(), 1);
    uint32_t saved = 0;
    ASSERT_TRUE(StandIn_GetProfileInt("ServerInfoAt", &saved));
    EXPECT_EQ(saved, 1900000000u);
}

}  // namespace
}  // namespace norrow::test
