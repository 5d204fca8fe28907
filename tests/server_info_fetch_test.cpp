// When and how the server information is downloaded.
#include <cstdint>
#include <string>

#include "platform/os.h"

#include "platform/platform.h"
#include "plugin/entry.h"
#include "serverinfo/server_info.h"
#include "support/plugin_test.h"

namespace norrow::test {
namespace {

using serverinfo::FetchServerInfo;
using serverinfo::serverInfo;

constexpr char kGoodAnswer[] =
    "SERVERINFO\r\nGEOCODER g.example,/geo,ref,80,gid\r\n"
    "LOCALSEARCH l.example,/local,ref,8080,lid\r\nMAXPAGE 3\r\n";
constexpr int32_t kT = 1800000000;

// The time as a 32-bit value wraps, as it will on 2038-01-19.
int32_t Wrapped(uint32_t seconds) { return static_cast<int32_t>(seconds); }

// The Windows clock reads the system's file time, which runs past 2038; the
// seconds since 1970 wrap into 32 bits as the rest expects them.
TEST(Clock, FileTimesWrapIntoThirtyTwoBits) {
    const struct {
        uint64_t fileTime;  // 100-nanosecond intervals since 1601-01-01 UTC
        int32_t seconds;
    } cases[] = {
        {116444736000000000u, 0},                    // 1970-01-01 00:00:00
        {116444735990000000u, -1},                   // a second before
        {134444736000000000u, 1800000000},           // 2027-01-15 08:00:00
        {137919572479999999u, INT32_MAX},            // 2038-01-19 03:14:07.9999999
        {137919572480000000u, INT32_MIN},            // a tick later: the wrap
        {137919572480000000u + 432010000000u, INT32_MIN + 43201},  // 12 hours later
        {159394408950000000u, -1},                   // 2106-02-07 06:28:15
        {159394408960000000u, 0},                    // 2106-02-07 06:28:16
        {0u, 1240428288},                            // 1601-01-01
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::SecondsFromFileTime(c.fileTime), c.seconds) << c.fileTime;
    }
}

#if NORROW_OS_WINDOWS
#include <ctime>  // _time64

// The clock of the Windows build agrees with the C runtime's 64-bit time,
// which does not run out in 2038 either.
TEST(Clock, WindowsClockIsTheSystemTime) {
    const int32_t before = static_cast<int32_t>(static_cast<uint32_t>(_time64(nullptr)));
    const int32_t now = platform::NativeSystem().now();
    const int32_t after = static_cast<int32_t>(static_cast<uint32_t>(_time64(nullptr)));
    EXPECT_GE(serverinfo::SecondsBetween(before, now), 0);
    EXPECT_GE(serverinfo::SecondsBetween(now, after), 0);
}
#endif

class FetchTest : public PluginTest {
protected:
    static size_t Posts() { return Calls(StandIn_FnHttpProgressPost).size(); }
};

TEST_F(FetchTest, FreshInformationNeedsNoNetwork) {
    for (int32_t age : {0, 1, 43200, -1, -1000000}) {
        serverInfo.valid = 1;
        serverInfo.ServerInfoAt = kT - age;
        SetNow(kT);
        EXPECT_EQ(FetchServerInfo(), 1) << age;
        EXPECT_EQ(serverInfo.valid, 1);
    }
    EXPECT_EQ(StandIn_CallCount(), 0) << "not even the online test";
}

TEST_F(FetchTest, StaleInformationIsDownloadedAgain) {
    serverInfo.valid = 1;
    serverInfo.ServerInfoAt = kT - 43201;
    SetNow(kT);
    QueuePost(kGoodAnswer);
    EXPECT_EQ(FetchServerInfo(), 1);
    EXPECT_EQ(Posts(), 1u);
    EXPECT_EQ(serverInfo.ServerInfoAt, kT);
    EXPECT_EQ(serverInfo.geocoder.host, "g.example");
    EXPECT_EQ(serverInfo.localSearch.port, 8080);
    EXPECT_EQ(serverInfo.maxPage, 3);
}

TEST_F(FetchTest, StaleAndOfflineGoesOnWithWhatItHas) {
    serverInfo.valid = 1;
    serverInfo.ServerInfoAt = kT - 43201;
    SetNow(kT);
    StandIn_SetOnline(0);
    EXPECT_EQ(FetchServerInfo(), 1);
    EXPECT_EQ(serverInfo.valid, 0);
    EXPECT_EQ(Posts(), 0u);
}

TEST_F(FetchTest, OfflineRightAfterCreate) {
    StandIn_SetOnline(0);
    PLUGININFO info;
    ASSERT_EQ(plugin::Create(&info, 1), 1);
    EXPECT_EQ(FetchServerInfo(), 1);
    EXPECT_EQ(serverInfo.geocoder.host, "");
    EXPECT_EQ(serverInfo.maxPage, 1);
    EXPECT_EQ(Posts(), 0u);
}

TEST_F(FetchTest, ThePostByteForByte) {
    QueuePost(kGoodAnswer);
    ASSERT_EQ(FetchServerInfo(), 1);
    const auto posts = Calls(StandIn_FnHttpProgressPost);
    ASSERT_EQ(posts.size(), 1u);
    const StandIn_HttpRequest& post = posts[0]->http;
    EXPECT_STREQ(post.host, serverinfo::kServerInfoHost);
    EXPECT_EQ(post.port, 80);
    EXPECT_STREQ(post.path, "/norrow/downloadinfo.php");
    EXPECT_EQ(post.timeout, 40000);
    EXPECT_EQ(post.progress, nullptr);
    EXPECT_EQ(post.progressContext, nullptr);
    const std::string body =
        "--kiritori\r\n"
        "Content-Disposition: form-data; name=\"version\"\r\n"
        "\r\n"
        "1000\r\n"
        "--kiritori--\r\n";
    EXPECT_EQ(body.size(), 82u);
    EXPECT_EQ(std::string(post.body), body);
    EXPECT_EQ(std::string(post.header),
              "Content-Length: 82\r\nContent-Type: multipart/form-data; boundary=kiritori");
}

int AdvanceClockAndAnswer(void*, const StandIn_HttpRequest*, StandIn_HttpReply* reply) {
    PluginTest::SetNow(kT + 7);
    reply->result = 0;
    reply->bytes = kGoodAnswer;
    reply->length = sizeof kGoodAnswer - 1;
    return 0;
}

TEST_F(FetchTest, TheAttemptIsTimedWhenTheHostReturns) {
    SetNow(kT);
    StandIn_SetHttpHandler(AdvanceClockAndAnswer, nullptr);
    ASSERT_EQ(FetchServerInfo(), 1);
    EXPECT_EQ(serverInfo.ServerInfoAt, kT + 7);
    EXPECT_EQ(serverInfo.lastAttemptAt, kT + 7);
    EXPECT_EQ(plugin::Release(), 1);
    uint32_t stored = 0;
    ASSERT_TRUE(StandIn_GetProfileInt("ServerInfoAt", &stored));
    EXPECT_EQ(stored, static_cast<uint32_t>(kT + 7));
}

// A failed download is retried no sooner than 30 seconds later; the first
// attempt of a process is never held back. Checked on both sides of the wrap
// of 32-bit time.
TEST_F(FetchTest, RetrySpacing) {
    for (uint32_t start : {static_cast<uint32_t>(kT), 0x7FFFFFF0u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(start);
        StandIn_Reset();
        ResetPluginState();
        const int32_t t = Wrapped(start);
        SetNow(t);
        QueueReply(StandIn_Post, 1, "");  // the host reports a failure
        EXPECT_EQ(FetchServerInfo(), 0);
        EXPECT_EQ(serverInfo.ServerInfoAt, t);
        EXPECT_EQ(serverInfo.lastAttemptAt, t);
        SetNow(Wrapped(start + 29));
        EXPECT_EQ(FetchServerInfo(), 0);
        SetNow(Wrapped(start - 100));  // clock set back
        EXPECT_EQ(FetchServerInfo(), 0);
        EXPECT_EQ(Posts(), 1u);
        SetNow(Wrapped(start + 30));
        QueuePost(kGoodAnswer);
        EXPECT_EQ(FetchServerInfo(), 1);
        EXPECT_EQ(Posts(), 2u);
    }
}

TEST_F(FetchTest, FreshnessAcrossTheWrap) {
    serverInfo.valid = 1;
    serverInfo.ServerInfoAt = Wrapped(0x7FFFFFF0u);
    SetNow(Wrapped(0x7FFFFFF0u + 43200));
    EXPECT_EQ(FetchServerInfo(), 1);
    EXPECT_EQ(Posts(), 0u);
    SetNow(Wrapped(0x7FFFFFF0u + 43201));
    QueuePost(kGoodAnswer);
    EXPECT_EQ(FetchServerInfo(), 1);
    EXPECT_EQ(Posts(), 1u);
}

TEST_F(FetchTest, FirstAttemptAfterTheWrapIsNotHeldBack) {
    SetNow(Wrapped(0x90000000u));  // 2046: negative as a signed 32-bit time
    QueuePost(kGoodAnswer);
    EXPECT_EQ(FetchServerInfo(), 1);
    EXPECT_EQ(Posts(), 1u);
}

TEST_F(FetchTest, UserMessageIsShownAfterTheParse) {
    QueuePost("SERVERINFO\nGEOCODER a,b,c,1,d\nUSER_MESSAGE Hello_World\n");
    EXPECT_EQ(FetchServerInfo(), 1);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Hello\nWorld");
    EXPECT_EQ(Boxes()[0].type, 64u);
}

TEST_F(FetchTest, RefusalStillShowsTheMessage) {
    QueuePost("SERVERINFO\nUSER_MESSAGE Closed\nDENIED\n");
    EXPECT_EQ(FetchServerInfo(), 0);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Closed");
}

TEST_F(FetchTest, UnusableAnswers) {
    const struct {
        const char* name;
        StandIn_HttpReply reply;
    } cases[] = {
        {"empty", {0, "", 0, 0, 0, 0}},
        {"negative length", {0, kGoodAnswer, sizeof kGoodAnswer - 1, 0, 1, -5}},
        {"null buffer", {0, nullptr, 0, 1, 1, 100}},
        {"no endpoint", {0, "SERVERINFO\nMAXPAGE 2\n", 21, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandIn_Reset();
        ResetPluginState();
        StandIn_QueueReply(StandIn_Post, &c.reply);
        EXPECT_EQ(FetchServerInfo(), 0);
        EXPECT_EQ(serverInfo.valid, 0);
        EXPECT_TRUE(Boxes().empty());
    }
}

}  // namespace
}  // namespace norrow::test
