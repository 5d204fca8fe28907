// The functions the library exports to the host, under their plain names. Each
// only forwards to the plug-in's logic.
#include <cstdint>

#include "platform/os.h"
#include "plugin/entry.h"
#include "plugin/guard.h"
#include "search/hooks.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#endif

using norrow::plugin::Guarded;

extern "C" {

NORROW_EXPORT int Create(PLUGININFO* info, uint32_t pluginHandle) {
    return Guarded(0, [&] { return norrow::plugin::Create(info, pluginHandle); });
}

NORROW_EXPORT int Load() {
    return Guarded(0, [] { return norrow::search::Load(); });
}

NORROW_EXPORT int Close() {
    return Guarded(0, [] { return norrow::plugin::Close(); });
}

NORROW_EXPORT int Release() {
    return Guarded(0, [] { return norrow::plugin::Release(); });
}

NORROW_EXPORT int About() {
    return Guarded(0, [] { return norrow::plugin::About(); });
}

}  // extern "C"

#if NORROW_OS_WINDOWS
// The module-level objects are built and destroyed by the C++ runtime around
// this; the plug-in needs no registration of its own.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
#endif
