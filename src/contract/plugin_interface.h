// The contract between Tamsel and its plug-ins, whole: the records the two
// exchange, the hook procedures, the functions of the host's PluginIf.dll as
// a plug-in imports them, and the five functions a plug-in exports.
//
// What the plug-in assumes of the host, in one place:
//
// - Calling convention. Every function that crosses the boundary (the
//   exports, the hook procedures, the TSI_ functions) is __cdecl, TSI_CALL:
//   the C convention of 32-bit Windows, in which the caller pushes the
//   arguments and takes them off again. It is the one under which host and
//   plug-in find each other by plain names (PluginIf.def, the five exports):
//   a __stdcall function would be exported as Create@8 and pop its own
//   arguments, so the host would find nothing, or, called through a pointer
//   (a hook), would have its stack unbalanced on every call.
// - One heap. The host allocates the answer of TSI_HttpRequest2 and
//   TSI_HttpProgressPost with its global operator new, which is msvcrt.dll's,
//   and the plug-in releases it. Its ::operator delete ends in free() of
//   msvcrt.dll too: the runtime linked into Norrow.tsp is mingw-w64's msvcrt
//   one, and tests/check_library.sh fails on any other C runtime imported. A
//   plug-in built against another C runtime (the UCRT, a static CRT) would
//   free the host's block into a heap that never held it and corrupt both.
// - An answer's life. The answer pointer is null before the call; on return
//   the plug-in takes whatever the host put there into a contract::HostBuffer
//   at once, whatever the result (a failing request may still hand a buffer
//   over; a failing POST never does). The page reads it in place, or replaces
//   it by a converted copy of its own and releases it then; otherwise it is
//   released when the page ends, on every path, exceptions included. The
//   host never sees the block again. Where the plug-in's own memory comes
//   from is told in plugin/runtime_memory.cpp.
// - One call at a time. The host calls the plug-in on one thread. It may call
//   in again while a call of ours waits in a TSI_ function or a message box
//   (its message loop runs there); a search then refuses a nested search
//   (search/hooks.cpp).
//
// The host is a 32-bit Windows program, so every pointer in these records is
// 4 bytes wide there and the layouts below are pinned for that target. The
// native 64-bit development build keeps native pointers; its layouts differ
// and nothing outside this process ever reads them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/os.h"

#if NORROW_OS_WINDOWS
#define TSI_CALL __cdecl
#else
#define TSI_CALL
#endif

// The plug-in's exports carry NORROW_EXPORT where the plug-in itself is
// built; everywhere else this header only declares them.
#ifdef NORROW_BUILDING_PLUGIN
#define NORROW_PLUGIN_API NORROW_EXPORT
#else
#define NORROW_PLUGIN_API
#endif

// ---- Records -------------------------------------------------------------

// How a plug-in describes itself to the host (Create).
struct PLUGININFO {
    int32_t size;   // 280
    char name[80];  // display name
    char version[30];
    char copyright[162];
    int32_t flag;  // 1
};

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
    kEventRegisterTarget = 1003,  // record: none
    kEventSearch = 1007,          // record: a SEARCHREQUEST
};

// One hit as the host reads it.
struct SEARCHRESULT {
    double latitude;   // degrees: the second number of the coordinates
    double longitude;  // degrees: the first number of the coordinates
    uint8_t extra[8];  // zero
    const char* name;  // never null: an empty text when the answer lacked it
    const char* address;
    const char* yomi;     // the reading of the name
    int32_t attribute;    // kHitAttribute
    uint32_t targetId;    // the search target that produced the hit
    uint8_t reserved[4];  // zero
};

constexpr int32_t kHitAttribute = 919022;  // 0xE05EE, which the host interprets

// The host's search request, which the hooks read and answer in. The plug-in
// reads and writes only the named fields and nothing at or beyond offset 80;
// the gaps belong to the host.
struct SEARCHREQUEST {
    int32_t header;             // no page is served when 0
    const char* query;          // Shift-JIS; may be empty only with a box
    int32_t targetCount;        // entries in targetIds
    const uint32_t* targetIds;  // the search targets the user chose
    uint8_t hostOwned16[8];
    int32_t filter1;      // served only when kNoFilter
    int32_t filter2;      // likewise
    int32_t resultCount;  // written: hits gathered so far
    uint8_t hostOwned36[4];
    SEARCHRESULT* results;  // written: the first of them
    int32_t hasBox;         // non-zero: the box is sent
    double box0;            // third value of bbox
    double box1;            // first value of bbox
    double box2;            // fourth value of bbox
    double box3;            // second value of bbox
};

constexpr int32_t kNoFilter = -9999;

static_assert(sizeof(PLUGININFO) == 280, "PLUGININFO is 280 bytes");
static_assert(offsetof(PLUGININFO, name) == 4, "name at 4");
static_assert(offsetof(PLUGININFO, version) == 84, "version at 84");
static_assert(offsetof(PLUGININFO, copyright) == 114, "copyright at 114");
static_assert(offsetof(PLUGININFO, flag) == 276, "flag at 276");

#if UINTPTR_MAX == 0xFFFFFFFFu  // the host's 32-bit layouts, byte for byte
static_assert(sizeof(HOOKENTRY) == 16, "HOOKENTRY is four 32-bit words");

static_assert(sizeof(SEARCHRESULT) == 48, "SEARCHRESULT is 48 bytes");
static_assert(offsetof(SEARCHRESULT, longitude) == 8, "longitude at 8");
static_assert(offsetof(SEARCHRESULT, extra) == 16, "extra at 16");
static_assert(offsetof(SEARCHRESULT, name) == 24, "name at 24");
static_assert(offsetof(SEARCHRESULT, address) == 28, "address at 28");
static_assert(offsetof(SEARCHRESULT, yomi) == 32, "yomi at 32");
static_assert(offsetof(SEARCHRESULT, attribute) == 36, "attribute at 36");
static_assert(offsetof(SEARCHRESULT, targetId) == 40, "targetId at 40");

static_assert(offsetof(SEARCHREQUEST, query) == 4, "query at 4");
static_assert(offsetof(SEARCHREQUEST, targetCount) == 8, "targetCount at 8");
static_assert(offsetof(SEARCHREQUEST, targetIds) == 12, "targetIds at 12");
static_assert(offsetof(SEARCHREQUEST, filter1) == 24, "filter1 at 24");
static_assert(offsetof(SEARCHREQUEST, filter2) == 28, "filter2 at 28");
static_assert(offsetof(SEARCHREQUEST, resultCount) == 32, "resultCount at 32");
static_assert(offsetof(SEARCHREQUEST, results) == 40, "results at 40");
static_assert(offsetof(SEARCHREQUEST, hasBox) == 44, "hasBox at 44");
static_assert(offsetof(SEARCHREQUEST, box0) == 48, "box0 at 48");
static_assert(offsetof(SEARCHREQUEST, box1) == 56, "box1 at 56");
static_assert(offsetof(SEARCHREQUEST, box2) == 64, "box2 at 64");
static_assert(offsetof(SEARCHREQUEST, box3) == 72, "box3 at 72");
static_assert(sizeof(SEARCHREQUEST) == 80, "the plug-in's part is 80 bytes");
#endif

extern "C" {

// ---- The host's functions (PluginIf.dll; see PluginIf.def) ----------------

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

// GET `path` (with its query) from `host`:`port`; 0 on success. Whatever the
// result, `*answer` is then null or a block the host allocated with the
// global operator new, `*answerLength` its length; the caller owns it and
// releases it with ::operator delete (a failing request may still hand one
// over).
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

// ---- The plug-in's exports, under their plain names -----------------------

// Describes the plug-in in `info`; `pluginHandle` names it in later calls.
// 1: the plug-in may be used; 0: not (an older host, or no record).
NORROW_PLUGIN_API int TSI_CALL Create(PLUGININFO* info, uint32_t pluginHandle);
// Registers the plug-in's hooks; 1.
NORROW_PLUGIN_API int TSI_CALL Load(void);
// 1.
NORROW_PLUGIN_API int TSI_CALL Close(void);
// Saves what the plug-in keeps in the host's profile; the host's answer.
NORROW_PLUGIN_API int TSI_CALL Release(void);
// Shows the About box; the button pressed.
NORROW_PLUGIN_API int TSI_CALL About(void);

}  // extern "C"

// The exports as a host finds them in the loaded library.
using PluginCreateProc = decltype(&Create);
using PluginEntryProc = decltype(&Load);
