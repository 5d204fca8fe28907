// Create, Close, Release and About as the host calls them.
#include "plugin/entry.h"

#include <cstring>
#include <string>

#include "platform/os.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "support/plugin_test.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#endif

namespace norrow::test {
namespace {

using plugin::pluginHandle;
using serverinfo::serverInfo;

class EntryTest : public PluginTest {
protected:
    // A record as the host hands it over, full of a pattern we can recognise.
    PLUGININFO Patterned() {
        PLUGININFO info;
        std::memset(&info, 0xCC, sizeof info);
        return info;
    }
    static bool AllPattern(const char* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (static_cast<unsigned char>(bytes[i]) != 0xCC) return false;
        }
        return true;
    }
};

TEST_F(EntryTest, AcceptedHostGetsPluginInfoByteForByte) {
    StandIn_SetVersion(9190);
    PLUGININFO info = Patterned();
    ASSERT_EQ(plugin::Create(&info, 77), 1);

    const char* raw = reinterpret_cast<const char*>(&info);
    int32_t size, flag;
    std::memcpy(&size, raw + 0, 4);
    std::memcpy(&flag, raw + 276, 4);
    EXPECT_EQ(size, 280);
    EXPECT_EQ(flag, 1);

    const std::string name = Sjis(u8"Web地名検索");
    ASSERT_EQ(name.size(), 11u);
    EXPECT_EQ(std::string(raw + 4, 12), name + '\0');
    EXPECT_TRUE(AllPattern(raw + 4 + 12, 80 - 12)) << "name padded beyond its NUL";
    EXPECT_EQ(std::string(raw + 84, 6), std::string("1.0.1", 6));
    EXPECT_TRUE(AllPattern(raw + 84 + 6, 30 - 6));
    const size_t copyright = std::strlen(raw + 114);
    EXPECT_GT(copyright, 0u);
    EXPECT_LT(copyright, 162u);
    EXPECT_TRUE(AllPattern(raw + 114 + copyright + 1, 162 - copyright - 1));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(EntryTest, OldHostIsRefusedAfterTheProfileIsRead) {
    StandIn_SetVersion(9189);
    StandIn_SetProfileInt("ServerInfoAt", 1234567);
    serverInfo.valid = 1;
    PLUGININFO info = Patterned();

    EXPECT_EQ(plugin::Create(&info, 42), 0);

    EXPECT_TRUE(AllPattern(reinterpret_cast<const char*>(&info), sizeof info));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(
        Boxes()[0].text,
        Sjis(
            u8"Web地名検索プラグイン\nタムセルのバージョンが古いためこのプラグインは使用できません."));
    EXPECT_EQ(Boxes()[0].type, 64u);
    EXPECT_EQ(pluginHandle, 42u);
    EXPECT_EQ(serverInfo.ServerInfoAt, 1234567);
    EXPECT_EQ(serverInfo.valid, 0);
}

// A host that passes no record is refused, as a host too old is, but quietly:
// the handle and the profile are read all the same.
TEST_F(EntryTest, CreateWithoutARecordRefusesTheHost) {
    StandIn_SetProfileInt("ServerInfoAt", 77);
    serverInfo.valid = 1;
    EXPECT_EQ(plugin::Create(nullptr, 8), 0);
    EXPECT_EQ(pluginHandle, 8u);
    EXPECT_EQ(serverInfo.ServerInfoAt, 77);
    EXPECT_EQ(serverInfo.valid, 0);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(EntryTest, CreateReadsTheProfileWithItsHandleAndDefault) {
    PLUGININFO info = Patterned();
    serverInfo.ServerInfoAt = 99;
    ASSERT_EQ(plugin::Create(&info, 5), 1);
    EXPECT_EQ(serverInfo.ServerInfoAt, 0) << "no profile value: the default 0";

    const auto reads = Calls(StandIn_FnGetProfileInt);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0]->pluginHandle, 5u);
    EXPECT_STREQ(reads[0]->text, "ServerInfoAt");
    EXPECT_EQ(reads[0]->value, 0);
}

TEST_F(EntryTest, ReleaseWritesBackWhatCreateRead) {
    StandIn_SetProfileInt("ServerInfoAt", 0x80000005u);  // a time past 2038, kept in 32 bits
    PLUGININFO info = Patterned();
    ASSERT_EQ(plugin::Create(&info, 9), 1);
    StandIn_SetProfileInt("ServerInfoAt", 0);

    EXPECT_EQ(plugin::Release(), 1);

    uint32_t stored = 0;
    ASSERT_TRUE(StandIn_GetProfileInt("ServerInfoAt", &stored));
    EXPECT_EQ(stored, 0x80000005u);
    const auto writes = Calls(StandIn_FnWriteProfileInt);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0]->pluginHandle, 9u);
    EXPECT_STREQ(writes[0]->text, "ServerInfoAt");
}

TEST_F(EntryTest, CloseChangesNothing) {
    serverInfo.valid = 1;
    serverInfo.ServerInfoAt = 10;
    pluginHandle = 3;
    for (int i = 0; i < 3; ++i) plugin::Close();
    EXPECT_EQ(serverInfo.valid, 1);
    EXPECT_EQ(serverInfo.ServerInfoAt, 10);
    EXPECT_EQ(pluginHandle, 3u);
    EXPECT_EQ(StandIn_CallCount(), 0);
}

TEST_F(EntryTest, AboutShowsItsTextAndPassesOnTheButton) {
    SetBoxAnswer(1);
    EXPECT_EQ(plugin::About(), 1);
    PLUGININFO info = Patterned();
    ASSERT_EQ(plugin::Create(&info, 1), 1);
    SetBoxAnswer(7);
    EXPECT_EQ(plugin::About(), 7);

    ASSERT_EQ(Boxes().size(), 2u);
    const std::string expected =
        Sjis(u8"          Web地名検索プラグイン\n　　　  　　　Ver 1.0.1\n\n  ") +
        std::string(info.copyright);
    for (const CapturedBox& box : Boxes()) {
        EXPECT_EQ(box.text, expected);
        EXPECT_EQ(box.type, 64u);
    }
}

#if NORROW_OS_WINDOWS
// A box shown inside a hook call keeps the user out of the host's main window
// until it is closed, whichever window of the host is active, or none.
TEST(HostBox, DisablesTheHostsWindowWhileOpen) {
    enum Active { kMainWindow, kOwnedDialog, kNone };
    for (const Active active : {kMainWindow, kOwnedDialog, kNone}) {
        SCOPED_TRACE(active);
        const DWORD visible = active == kNone ? 0 : WS_VISIBLE;
        HWND host = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | visible, 0, 0,
                                    300, 200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(host, nullptr);
        HWND dialog = nullptr;
        if (active == kOwnedDialog) {
            dialog = CreateWindowExA(0, "STATIC", "dialog", WS_POPUP | WS_CAPTION | WS_VISIBLE, 20,
                                     20, 100, 80, host, nullptr, nullptr, nullptr);
            ASSERT_NE(dialog, nullptr);
        }
        HWND expectedActive = active == kMainWindow ? host : dialog;
        if (expectedActive != nullptr) SetActiveWindow(expectedActive);
        ASSERT_EQ(GetActiveWindow(), expectedActive);

        const AnsweredBoxes boxes(host);
        const int button = platform::NativeSystem().messageBox("held", platform::kBoxStop);
        const SeenBox& seen = boxes.Last();

        EXPECT_EQ(button, IDOK);
        ASSERT_TRUE(seen.found) << "no box opened (is there a display?)";
        EXPECT_STREQ(seen.text, "held");
        EXPECT_FALSE(seen.hostEnabled) << "the host's window stayed usable";
        EXPECT_EQ(seen.owner, active == kNone ? nullptr : static_cast<void*>(host));
        EXPECT_TRUE(IsWindowEnabled(host)) << "enabled again once the box is closed";
        if (dialog != nullptr) DestroyWindow(dialog);
        DestroyWindow(host);
    }
}
#endif

}  // namespace
}  // namespace norrow::test
