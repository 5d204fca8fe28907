#include "plugin/entry.h"

#include <cstring>

#include "contract/plugin_interface.h"
#include "platform/platform.h"
#include "plugin/plugin_texts.h"
#include "serverinfo/server_info.h"

namespace norrow::plugin {

uint32_t pluginHandle = 0;

namespace {

// Copies `text` with its NUL and nothing more.
template <size_t N, size_t M>
void CopyText(char (&field)[N], const char (&text)[M]) {
    static_assert(M <= N, "text longer than its field");
    std::memcpy(field, text, M);
}

}  // namespace

int Create(PLUGININFO* info, uint32_t handle) {
    using serverinfo::serverInfo;
    pluginHandle = handle;
    serverInfo.ServerInfoAt = static_cast<int32_t>(TSI_GetProfileInt(handle, kProfileKey, 0));
    serverInfo.valid = 0;
    if (TSI_GetVersion() < kMinimumHostVersion) {
        platform::System().messageBox(text::kHostTooOld, platform::kBoxInformation);
        return 0;
    }
    if (info == nullptr) return 0;
    info->size = sizeof(PLUGININFO);
    info->flag = 1;
    CopyText(info->name, text::kDisplayName);
    CopyText(info->version, text::kVersion);
    CopyText(info->copyright, text::kCopyright);
    return 1;
}

int Close() { return 1; }

int Release() {
    return TSI_WriteProfileInt(pluginHandle, kProfileKey, serverinfo::serverInfo.ServerInfoAt);
}

int About() { return platform::System().messageBox(text::kAbout, platform::kBoxInformation); }

}  // namespace norrow::plugin
