// The plug-in library itself, loaded as the host loads it: attached, used,
// detached and attached again in one process; and its version resource.
#include <cstring>
#include <string>

#include "platform/os.h"
#include "plugin/plugin_info.h"
#include "plugin/pluginif.h"
#include "support/plugin_test.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace norrow::test {
namespace {

std::string PluginPath() { return LocalPath(NORROW_PLUGIN_PATH); }

class Library {
public:
    explicit Library(const std::string& path) {
#if NORROW_OS_WINDOWS
        handle_ = LoadLibraryA(path.c_str());
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~Library() {
        if (handle_ == nullptr) return;
#if NORROW_OS_WINDOWS
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
    }
    bool Loaded() const { return handle_ != nullptr; }
    template <typename Function>
    Function Find(const char* name) const {
#if NORROW_OS_WINDOWS
        return reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)));
#else
        return reinterpret_cast<Function>(dlsym(handle_, name));
#endif
    }

private:
    void* handle_ = nullptr;
};

using Entry = int (*)();
using CreateEntry = int (*)(PLUGININFO*, uint32_t);

TEST(PluginLibrary, AttachDetachAttachAgain) {
    StandIn_Reset();
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        Library library(PluginPath());
        ASSERT_TRUE(library.Loaded()) << PluginPath();
        const auto create = library.Find<CreateEntry>("Create");
        const auto load = library.Find<Entry>("Load");
        const auto close = library.Find<Entry>("Close");
        const auto release = library.Find<Entry>("Release");
        ASSERT_TRUE(create && load && close && release && library.Find<Entry>("About"));

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

#if NORROW_OS_WINDOWS
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
