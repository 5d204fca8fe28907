// The functions the library exports to the host (declared in the contract).
// Each only forwards to the plug-in's logic, and nothing it calls may throw
// into the host.
#include "contract/guard.h"
#include "contract/plugin_interface.h"
#include "plugin/entry.h"
#include "search/hooks.h"

using norrow::contract::Guarded;

extern "C" {

int TSI_CALL Create(PLUGININFO* info, uint32_t pluginHandle) {
    return Guarded(0, [&] { return norrow::plugin::Create(info, pluginHandle); });
}

int TSI_CALL Load(void) {
    return Guarded(0, [] { return norrow::search::Load(norrow::plugin::pluginHandle); });
}

int TSI_CALL Close(void) {
    return Guarded(0, [] { return norrow::plugin::Close(); });
}

int TSI_CALL Release(void) {
    return Guarded(0, [] { return norrow::plugin::Release(); });
}

int TSI_CALL About(void) {
    return Guarded(0, [] { return norrow::plugin::About(); });
}

}  // extern "C"
