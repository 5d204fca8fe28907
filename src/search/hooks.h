// The plug-in's two search targets: registering their hooks with the host and
// answering the host's search requests page by page.
#pragma once

#include <cstdint>

#include "contract/plugin_interface.h"

namespace norrow::search {

// Registers the hooks of the address search, then of the local search, for
// the plug-in the host calls `pluginHandle`; returns 1.
int Load(uint32_t pluginHandle);

// The hook procedures. Event 1003 registers the hook's search target; event
// 1007 runs a search on the SEARCHREQUEST `record` when it names the target
// (1: served, 0: not for us or failed), unless a search of either target is
// still running: then 0 at once, the request untouched. Any other event: 0.
int32_t TSI_CALL GeocoderHookProc(int32_t event, void* hostContext, void* record);
int32_t TSI_CALL LocalSearchHookProc(int32_t event, void* hostContext, void* record);

}  // namespace norrow::search
