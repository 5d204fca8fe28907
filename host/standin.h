/* The stand-in host: our own PluginIf library, which implements the host's
 * functions for a plug-in (see src/contract/plugin_interface.h) and lets a test or the
 * tamsel-sim program control and watch them. Plain C across the library
 * boundary, so that the Windows DLL and its users need share no C++ runtime.
 */
#pragma once

#include <stdint.h>

#include "contract/plugin_interface.h"
#if NORROW_OS_LINUX
#include "platform/linux/desktop.h"
#endif

#if NORROW_OS_WINDOWS
#ifdef STANDIN_BUILDING
#define STANDIN_API __declspec(dllexport)
#else
#define STANDIN_API __declspec(dllimport)
#endif
#else
#define STANDIN_API __attribute__((visibility("default")))
#endif

extern "C" {

/* ---- State ------------------------------------------------------------- */

/* Back to a fresh host: version 9190, online, empty profile, no scripted
 * replies and no handlers, an empty call record, target ids from 1. */
STANDIN_API void StandIn_Reset(void);
STANDIN_API void StandIn_SetVersion(int version);
STANDIN_API void StandIn_SetOnline(int online);
STANDIN_API void StandIn_SetProfileInt(const char* key, uint32_t value);
/* 1 and the value when the profile holds `key`, else 0. */
STANDIN_API int StandIn_GetProfileInt(const char* key, uint32_t* value);
/* The id that the next TSI_InsertSearchTarget returns (then counting up). */
STANDIN_API void StandIn_SetNextTargetId(uint32_t id);

/* ---- HTTP --------------------------------------------------------------- */

enum { StandIn_Get = 0, StandIn_Post = 1 };

typedef struct StandIn_HttpRequest {
    int kind; /* StandIn_Get (TSI_HttpRequest2) or StandIn_Post (TSI_HttpProgressPost) */
    const char* host;
    int32_t port;
    const char* path;
    int32_t timeout;
    const char* header;
    const char* body;
    const char* referer;   /* GET only */
    const char* userAgent; /* GET only */
    void* hostContext;     /* GET only */
    void* progress;
    void* progressContext; /* POST only */
} StandIn_HttpRequest;

/* What the host answers. With result 0 the plug-in gets a new buffer holding
 * `length` bytes (exactly: no NUL is added). A GET may deliver a buffer with a
 * non-zero result too (when `bytes` is set); a POST never does. The last two
 * fields make the host misbehave on purpose. */
typedef struct StandIn_HttpReply {
    int result;
    const char* bytes;
    int32_t length;
    int nullBuffer;     /* hand over no buffer at all */
    int overrideLength; /* report `reportedLength` instead of `length` */
    int32_t reportedLength;
} StandIn_HttpReply;

/* Replies are taken first from the queue of their kind, in order; when that is
 * empty the handler is asked; without a handler the request fails (result 1). */
STANDIN_API void StandIn_QueueReply(int kind, const StandIn_HttpReply* reply);
/* The handler fills `reply`; its bytes must stay valid until it returns. */
typedef int (*StandIn_HttpHandler)(void* context, const StandIn_HttpRequest* request,
                                   StandIn_HttpReply* reply);
STANDIN_API void StandIn_SetHttpHandler(StandIn_HttpHandler handler, void* context);

/* ---- Message boxes (the desktop of the Linux build) --------------------- */

/* On Linux this library provides the process's Desktop_MessageBox
 * (platform/linux/desktop.h), which the plug-in's boxes reach: each box is
 * recorded, then passed to the handler, which returns the button pressed
 * (without one: OK at once). */
typedef int (*StandIn_MessageBoxHandler)(void* context, const char* text, unsigned type);
STANDIN_API void StandIn_SetMessageBoxHandler(StandIn_MessageBoxHandler handler, void* context);

#if NORROW_OS_WINDOWS
/* ---- Message boxes (the desktop of the Windows build) ------------------- */

/* While set, each dialog box ("#32770") that opens on the thread that set it
 * is handed to `callback` once it has handled WM_INITDIALOG (it then shows its
 * text and icon; `box` is its HWND), on that thread, and then answered with
 * OK. One at a time: setting again replaces the last. The hook allocates
 * nothing. 1 when set, 0 when Windows refused the hook. */
typedef void (*StandIn_BoxCallback)(void* context, void* box);
STANDIN_API int StandIn_AnswerBoxes(StandIn_BoxCallback callback, void* context);
STANDIN_API void StandIn_StopAnsweringBoxes(void);
#endif

/* ---- Watching the host at work ------------------------------------------ */

/* Called with 1 as each of the host's functions (and Desktop_MessageBox)
 * begins and with 0 as it returns, so that a test can tell the host's own work,
 * its allocations above all, from the plug-in's. Kept across StandIn_Reset. */
typedef void (*StandIn_CallObserver)(int entering);
STANDIN_API void StandIn_SetCallObserver(StandIn_CallObserver observer);

/* ---- The record of calls ------------------------------------------------ */

enum StandIn_Function {
    StandIn_FnGetVersion,
    StandIn_FnGetProfileInt,
    StandIn_FnWriteProfileInt,
    StandIn_FnAddHook,
    StandIn_FnInsertSearchTarget,
    StandIn_FnGetActiveCoverMap,
    StandIn_FnGetDatum,
    StandIn_FnSetSearchStatus,
    StandIn_FnSetSearchURL,
    StandIn_FnIsOnline,
    StandIn_FnHttpRequest2,
    StandIn_FnHttpProgressPost,
    StandIn_FnMessageBox
};

/* One call as the host received it. Which fields mean something depends on
 * the function; the texts live until the next StandIn_Reset. */
typedef struct StandIn_Call {
    int function;
    uint32_t pluginHandle; /* profile calls */
    const char* text;      /* profile key, target name, status, attribution, box text */
    int64_t value;         /* profile value or default, hook kind, box type, datum map */
    uint32_t args[4];      /* TSI_InsertSearchTarget's four arguments (name aside) */
    HOOKENTRY hook;        /* TSI_AddHook: the record as passed */
    StandIn_HttpRequest http;
    int64_t result; /* what the host answered */
} StandIn_Call;

STANDIN_API int StandIn_CallCount(void);
/* Forgets the calls recorded so far (a long run keeps the record short). */
STANDIN_API void StandIn_ClearCalls(void);
STANDIN_API const StandIn_Call* StandIn_GetCall(int index);

} /* extern "C" */
