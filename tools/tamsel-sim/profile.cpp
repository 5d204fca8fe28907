#include "tamsel-sim/profile.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/os.h"
#include "standin.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace norrow::sim {

std::string DefaultProfilePath() {
#if NORROW_OS_WINDOWS
    const char* base = std::getenv("APPDATA");
    return std::string(base != nullptr ? base : ".") + "\\tamsel-sim\\profile.ini";
#else
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = config != nullptr && *config != '\0' ? config
                             : home != nullptr ? std::string(home) + "/.config"
                                               : ".";
    return base + "/tamsel-sim/profile.ini";
#endif
}

void LoadProfile(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path));
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        StandIn_SetProfileInt(
            line.substr(0, equals).c_str(),
            static_cast<uint32_t>(std::strtoul(line.c_str() + equals + 1, nullptr, 10)));
    }
}

void SaveProfile(const std::string& path) {
    uint32_t value = 0;
    if (!StandIn_GetProfileInt(kProfileKey, &value)) return;
    // Make the folders on the way, as a host makes its settings folder.
    const size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = path.substr(0, slash);
        for (size_t at = 1; at <= folder.size(); ++at) {
            if (at != folder.size() && folder[at] != '/' && folder[at] != '\\') continue;
#if NORROW_OS_WINDOWS
            CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
#else
            mkdir(folder.substr(0, at).c_str(), 0755);
#endif
        }
    }
    std::ofstream out(std::filesystem::u8path(path));
    out << kProfileKey << '=' << value << '\n';
}

}  // namespace norrow::sim
