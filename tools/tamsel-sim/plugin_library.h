// The plug-in library as the host loads it: the file, and its five entry
// points. dlopen on Linux, LoadLibrary on Windows.
#pragma once

#include <cstdint>
#include <string>

#include "contract/plugin_interface.h"

namespace norrow::sim {

class PluginLibrary {
public:
    PluginLibrary() = default;
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    ~PluginLibrary();

    // Loads `path` and finds all five exports; on failure says what is wrong.
    bool Open(const std::string& path, std::string& error);

    PluginCreateProc Create = nullptr;
    PluginEntryProc Load = nullptr;
    PluginEntryProc Close = nullptr;
    PluginEntryProc Release = nullptr;
    PluginEntryProc About = nullptr;

private:
    void* handle_ = nullptr;
};

// The plug-in built beside this program.
std::string DefaultPluginPath();

}  // namespace norrow::sim
