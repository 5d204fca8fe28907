#include "tamsel-sim/plugin_library.h"

#include "platform/os.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace norrow::sim {
namespace {

#if NORROW_OS_WINDOWS
void* OpenLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return module;
}
void* Find(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}
constexpr char kPluginFile[] = "Norrow.tsp";
#else
void* OpenLibrary(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) error = "cannot load " + path + ": " + dlerror();
    return library;
}
void* Find(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }
std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string folder(path, length > 0 ? static_cast<size_t>(length) : 0);
    return folder.substr(0, folder.find_last_of('/') + 1);
}
constexpr char kPluginFile[] = "Norrow.tsp";
#endif

}  // namespace

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) CloseLibrary(handle_);
}

bool PluginLibrary::Open(const std::string& path, std::string& error) {
    handle_ = OpenLibrary(path, error);
    if (handle_ == nullptr) return false;
    Create = reinterpret_cast<PluginCreateProc>(Find(handle_, "Create"));
    Load = reinterpret_cast<PluginEntryProc>(Find(handle_, "Load"));
    Close = reinterpret_cast<PluginEntryProc>(Find(handle_, "Close"));
    Release = reinterpret_cast<PluginEntryProc>(Find(handle_, "Release"));
    About = reinterpret_cast<PluginEntryProc>(Find(handle_, "About"));
    const struct {
        const char* name;
        bool found;
    } exports[] = {{"Create", Create != nullptr},
                   {"Load", Load != nullptr},
                   {"Close", Close != nullptr},
                   {"Release", Release != nullptr},
                   {"About", About != nullptr}};
    for (const auto& entry : exports) {
        if (!entry.found) {
            error = path + " is no Tamsel plug-in: it does not export " + entry.name;
            return false;
        }
    }
    return true;
}

std::string DefaultPluginPath() { return ProgramFolder() + kPluginFile; }

}  // namespace norrow::sim
