// The plug-in library itself, loaded as the host loads it: attached, used,
// detached and attached again in one process; and its version resource.
#include <cstring>
#include <string>

#include "contract/plugin_interface.h"
#include "platform/os.h"
#include "support/nested_search.h"
#include "support/plugin_test.h"
#include "tamsel-sim/plugin_library.h"

#if NORROW_OS_WINDOWS
#include <windows.h>

#include <thread>

#include "support/failing_allocator.h"
#include "support/search_support.h"
#endif

namespace norrow::test {
namespace {

std::string PluginPath() { return LocalPath(NORROW_PLUGIN_PATH); }

using sim::PluginLibrary;

TEST(PluginLibrary, AttachDetachAttachAgain) {
    StandIn_Reset();
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        PluginLibrary library;
        std::string error;
        ASSERT_TRUE(library.Open(PluginPath(), error)) << error;
        const PluginCreateProc create = library.Create;
        const PluginEntryProc load = library.Load, close = library.Close, release = library.Release;
        ASSERT_TRUE(create && load && close && release && library.About);

        PLUGININFO info{};
        EXPECT_EQ(create(&info, 7), 1);
        EXPECT_EQ(info.size, 280);
        EXPECT_STREQ(info.version, "1.0.1");
        const int before = StandIn_CallCount();
        EXPECT_EQ(load(), 1);
        std::vector<TSI_HOOKPROC> hooks;
        for (int i = before; i < StandIn_CallCount(); ++i) {
            const StandIn_Call* call = StandIn_GetCall(i);
            if (call->function == StandIn_FnAddHook) hooks.push_back(call->hook.hookProc);
        }
        ASSERT_EQ(hooks.size(), 2u);
        EXPECT_EQ(hooks[0](kEventRegisterTarget, nullptr, nullptr), 0);
        const StandIn_Call* insert = StandIn_GetCall(StandIn_CallCount() - 1);
        EXPECT_EQ(insert->function, StandIn_FnInsertSearchTarget);
        EXPECT_EQ(std::string(insert->text), Sjis(u8"Yahoo!住所検索"));
        EXPECT_EQ(close(), 1);
        EXPECT_EQ(release(), 1);
    }
}

// Created, loaded, and both targets registered (ids 31 and 32).
HeldPlugin Hold(const PluginLibrary& library) {
    PLUGININFO info{};
    EXPECT_EQ(library.Create(&info, 7), 1);
    EXPECT_EQ(library.Load(), 1);
    const auto added = PluginTest::Calls(StandIn_FnAddHook);
    HeldPlugin plugin{{nullptr, nullptr}, {31, 32}, library.About};
    StandIn_SetNextTargetId(31);
    for (int i = 0; i < 2 && i < static_cast<int>(added.size()); ++i) {
        plugin.hooks[i] = added[i]->hook.hookProc;
        plugin.hooks[i](kEventRegisterTarget, nullptr, nullptr);
    }
    return plugin;
}

// A host that calls back while the library waits in its HTTP function or in
// one of its boxes (real ones on Windows): the search inside is refused, the
// one running ends as it would have alone.
TEST(PluginLibrary, ASearchInsideASearchIsRefused) {
    for (const Nesting& nesting : kNestings) {
        HostView views[2];
        for (const bool callBack : {false, true}) {
            StandIn_Reset();
            PluginLibrary library;
            std::string error;
            ASSERT_TRUE(library.Open(PluginPath(), error)) << error;
            const HeldPlugin plugin = Hold(library);
            ASSERT_TRUE(plugin.hooks[0] && plugin.hooks[1]);
            views[callBack] = SearchCalledBack(plugin, nesting, callBack);
        }
        ExpectUndisturbed(views[0], views[1], nesting);
    }
}

#if NORROW_OS_WINDOWS
// A host that has run out of memory, its C runtime's malloc and calloc
// included, gets the memory message and a search that was not served; the
// C++ runtime inside the library does not crash it, neither on the first hook
// call of a thread nor after a successful search, and the next search works.
TEST(PluginLibrary, AHostOutOfMemoryGetsTheMessageAndLivesOn) {
    StandIn_Reset();
    PluginLibrary library;
    std::string error;
    ASSERT_TRUE(library.Open(PluginPath(), error)) << error;
    // Created, loaded and searched once on another thread, so that the first
    // case below is this thread's first hook call.
    TSI_HOOKPROC address = nullptr;
    Request request("abc", {31});
    int32_t setUp[3] = {};
    std::thread([&] {
        PLUGININFO info{};
        setUp[0] = library.Create(&info, 7);
        setUp[1] = library.Load();
        address = PluginTest::Calls(StandIn_FnAddHook)[0]->hook.hookProc;
        StandIn_SetNextTargetId(31);
        address(kEventRegisterTarget, nullptr, nullptr);
        PluginTest::QueuePost("SERVERINFO\nGEOCODER geo.example,/geocoder,,80,GEO-ID\nMAXPAGE 1\n");
        PluginTest::QueueGet(Ydf(Hits(3), "3"));
        setUp[2] = address(kEventSearch, nullptr, &request.record);
    }).join();
    ASSERT_EQ(setUp[0], 1);
    ASSERT_EQ(setUp[1], 1);
    ASSERT_EQ(setUp[2], 1) << "a search while memory lasts";

    std::string wide(140000, '\0');  // UTF-16 of 70,000 units: a 64 KB buffer to convert it
    for (size_t i = 1; i < wide.size(); i += 2) wide[i] = 'x';
    const struct {
        const char* what;
        bool searchFirst;    // a successful search on this thread before
        size_t failingSize;  // allocations of this size and more fail
        std::string answer;  // none: the search fails before it asks
    } cases[] = {
        {"every allocation, from the first hook call of a thread", false, 0, ""},
        {"every allocation, after a successful search", true, 0, ""},
        {"allocations of 64 KB and more", false, 65536, wide},
    };
    void* const modules[] = {GetModuleHandleA(nullptr), GetModuleHandleA("PluginIf.dll"),
                             GetModuleHandleA("Norrow.tsp")};
    ASSERT_NE(modules[2], nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.searchFirst) {
            PluginTest::QueueGet(Ydf(Hits(2), "2"));
            EXPECT_EQ(address(kEventSearch, nullptr, &request.record), 1);
        }
        if (!c.answer.empty()) PluginTest::QueueGet(c.answer);
        const AnsweredBoxes boxes;
        int32_t result = -2;
        {
            const ProcessOutOfMemory starved(modules, 3, c.failingSize);
            result = address(kEventSearch, nullptr, &request.record);
        }
        const SeenBox& seen = boxes.Last();
        EXPECT_EQ(result, 0) << "not served";
        ASSERT_TRUE(seen.found) << "no box opened (is there a display?)";
        EXPECT_EQ(std::string(seen.text), Sjis(u8"Yahoo!住所検索: メモリの確保に失敗しました."));
        PluginTest::QueueGet(Ydf(Hits(4), "4"));
        EXPECT_EQ(address(kEventSearch, nullptr, &request.record), 1) << "the next search";
        EXPECT_EQ(request.record.resultCount, 4);
    }
    EXPECT_EQ(library.Release(), 1);
}

// Threads of the host come and go while the library is loaded and after it
// has searched. A thread that ran the plug-in out of memory has made the C++
// runtime inside it keep state for that thread: the exception's globals, and
// the threads runtime's record of the thread, which holds a handle to it.
// The runtime frees that state as the thread detaches from the library, so a
// thread that has ended is held by no one: it can no longer be opened.
TEST(PluginLibrary, ThreadsThatEndLeaveNothingBehind) {
    StandIn_Reset();
    PluginLibrary library;
    std::string error;
    ASSERT_TRUE(library.Open(PluginPath(), error)) << error;
    const TSI_HOOKPROC address = Hold(library).hooks[0];
    ASSERT_NE(address, nullptr);
    PluginTest::QueuePost("SERVERINFO\nGEOCODER geo.example,/geocoder,,80,GEO-ID\nMAXPAGE 1\n");
    PluginTest::QueueGet(Ydf(Hits(3), "3"));
    Request request("abc", {31});
    ASSERT_EQ(address(kEventSearch, nullptr, &request.record), 1);

    void* const modules[] = {GetModuleHandleA(nullptr), GetModuleHandleA("PluginIf.dll"),
                             GetModuleHandleA("Norrow.tsp")};
    // Every thread has ended before the first expectation is checked: that
    // is when GoogleTest's thread-local storage starts a thread of its own,
    // which waits for the main thread to end, and under emulation Wine
    // crashes when a thread ends while another waits (RELIABILITY.md).
    struct Ended {
        const char* what;
        bool outOfMemory;
        int32_t result;
        bool held;  // the thread could still be opened after it ended
    };
    std::vector<Ended> ended;
    for (const bool outOfMemory : {false, true}) {
        for (int i = 0; i < 3; ++i) {
            Ended thread{outOfMemory ? "a search that runs out of memory" : "a search",
                         outOfMemory, -2, false};
            DWORD id = 0;
            std::thread([&] {
                id = GetCurrentThreadId();
                if (!outOfMemory) {
                    PluginTest::QueueGet(Ydf(Hits(2), "2"));
                    thread.result = address(kEventSearch, nullptr, &request.record);
                    return;
                }
                const AnsweredBoxes boxes;
                const ProcessOutOfMemory starved(modules, 3);
                thread.result = address(kEventSearch, nullptr, &request.record);
            }).join();
            const HANDLE held = OpenThread(SYNCHRONIZE, FALSE, id);
            thread.held = held != nullptr;
            if (held != nullptr) CloseHandle(held);
            ended.push_back(thread);
        }
    }
    for (const Ended& thread : ended) {
        SCOPED_TRACE(thread.what);
        EXPECT_EQ(thread.result, thread.outOfMemory ? 0 : 1);
        EXPECT_FALSE(thread.held) << "the ended thread is still held";
    }
    PluginTest::QueueGet(Ydf(Hits(4), "4"));
    EXPECT_EQ(address(kEventSearch, nullptr, &request.record), 1);
    EXPECT_EQ(request.record.resultCount, 4);
    EXPECT_EQ(library.Release(), 1);
}

std::string VersionString(const std::vector<char>& info, const char* name) {
    char* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
        return {};
    return std::string(value);
}

TEST(PluginLibrary, CarriesItsVersion) {
    const std::string path = PluginPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (1u << 16) | 0u);
    EXPECT_EQ(fixed->dwFileVersionLS, 1u << 16);
    EXPECT_EQ(VersionString(info, "FileVersion"), "1.0.1");
    EXPECT_EQ(VersionString(info, "ProductName"), "Norrow");
    EXPECT_EQ(VersionString(info, "OriginalFilename"), "Norrow.tsp");
}
#endif

}  // namespace
}  // namespace norrow::test
