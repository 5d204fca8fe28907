// The contract between Tamsel and its plug-ins: the functions of the host's
// PluginIf.dll as a plug-in imports them, and the records they exchange.
//
// The host is a 32-bit Windows program, so every pointer in these records is
// 4 bytes wide there and the layouts below are pinned for that target. The
// native 64-bit development build keeps native pointers; its layouts differ
// and nothing outside this process ever reads them.
#pragma once

#include <cstdint>

#include "platform/os.h"

#if NORROW_OS_WINDOWS
#define TSI_CALL __cdecl
#else
#define TSI_CALL
#endif

// A hook procedure: the host calls it with an event code, its own opaque
// context and an event-specific record; the procedure answers with an int.
typedef int32_t(TSI_CALL* TSI_HOOKPROC)(int32_t event, void* hostContext, void* record);

// Registers a hook with TSI_AddHook.
struct HOOKENTRY {
    uint32_t size;          // 16
    uint32_t pluginHandle;  // the value the host gave to Create
    TSI_HOOKPROC hookProc;
    uint32_t reserved;  // 0
};

// Hook kinds and events used by Norrow.
enum : int32_t {
    kHookKindSearch = 7,
    kEventRegisterTarget = 1003,
    kEventSearch = 1007,
};

extern "C" {

int TSI_CALL TSI_GetVersion(void);
uint32_t TSI_CALL TSI_GetProfileInt(uint32_t pluginHandle, const char* key, uint32_t defaultValue);
int TSI_CALL TSI_WriteProfileInt(uint32_t pluginHandle, const char* key, int32_t value);
uint32_t TSI_CALL TSI_AddHook(int32_t kind, HOOKENTRY* entry);
uint32_t TSI_CALL TSI_InsertSearchTarget(uint32_t parent, uint32_t kind, const char* name,
                                         uint32_t flags);
uint32_t TSI_CALL TSI_GetActiveCoverMap(void);
int TSI_CALL TSI_GetDatum(uint32_t coverMap);
void TSI_CALL TSI_SetSearchStatus(const char* text);
void TSI_CALL TSI_SetSearchURL(const char* text);
int TSI_CALL TSI_IsOnline(void);

// GET `path` (with its query) from `host`:`port`. On 0 the host has allocated
// the answer with the global operator new and set its length; the caller owns
// it from then on, whatever the result, and releases it with ::operator delete.
int TSI_CALL TSI_HttpRequest2(char** answer, int32_t* answerLength, const char* host, int32_t port,
                              const char* path, int32_t timeout, void* hostContext, void* progress,
                              const char* header, const char* body, const char* referer,
                              const char* userAgent);

// POST `body` with the extra `header` lines to `host`:`port` `path`. On 0 the
// answer is set as above and the caller owns it; on any other result there is
// no answer to release.
int TSI_CALL TSI_HttpProgressPost(char** answer, int32_t* answerLength, const char* host,
                                  int32_t port, const char* path, const char* header,
                                  const char* body, int32_t timeout, void* progress,
                                  void* progressContext);

}  // extern "C"

#if NORROW_OS_WINDOWS
static_assert(sizeof(HOOKENTRY) == 16, "HOOKENTRY is four 32-bit words");
#endif
