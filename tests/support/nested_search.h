// A host that calls the plug-in back while a search waits on it: from its
// HTTP function, or from inside one of the plug-in's modal message boxes, as
// a real host's message loop may. Drives the plug-in through the stand-in
// host only, so that it serves the linked plug-in and the loaded library
// alike; the boxes are the stand-in host's desktop on Linux and real boxes
// on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "contract/plugin_interface.h"

namespace norrow::test {

// The plug-in as the host holds it: created, loaded, both targets registered.
struct HeldPlugin {
    TSI_HOOKPROC hooks[2];  // the address search, the local search
    uint32_t ids[2];        // their target ids
    PluginEntryProc about;
};

// Where the host calls back during the search, and so what it is answered:
// MAXPAGE 3 and pages of 10, 10 and 5 hits (a total of 25), a user message
// with the server information, or a page that is no YDF (a stop box).
enum class CallBackAt {
    kFirstRequest,       // in TSI_HttpRequest2 of the first page
    kLaterRequest,       // in TSI_HttpRequest2 of the second page
    kUserMessageBox,     // in the server's user message (the first page downloads)
    kFirstPageStopBox,   // in the stop box of a first page that is no YDF
    kLaterPageStopBox,   // in the stop box of a second page that is no YDF
};

constexpr int kCallAbout = 2;  // as Nesting::nested: About instead of a hook

struct Nesting {
    const char* what;
    int outer;   // the hook that searches: 0 address, 1 local
    int nested;  // what the host calls back: hook 0 or 1, or kCallAbout
    CallBackAt at;
};

// Every way of calling back that both builds check.
extern const std::vector<Nesting> kNestings;

// What the host saw of one search.
struct HostView {
    int32_t result = -1;
    int32_t resultCount = 0;
    std::vector<std::string> hits;      // each record read through `results`
    std::vector<std::string> requests;  // every HTTP request, in order
    std::vector<std::string> status;    // status-line texts
    std::vector<std::string> boxes;     // the plug-in's boxes
    // The call back: how often it happened, what it returned, and what the
    // plug-in did meanwhile.
    int calledBack = 0;
    int32_t nestedResult = -1;
    int hostCallsInside = 0;  // calls of the host's functions, boxes aside
    std::vector<std::string> boxesInside;
    bool nestedRequestWritten = false;
};

// Runs the search of `nesting` on `plugin`, whose server information is not
// yet downloaded, calling back when `callBack` says so.
HostView SearchCalledBack(const HeldPlugin& plugin, const Nesting& nesting, bool callBack);

// Expects the search called back to have gone exactly as the one alone, and
// the call back to have been refused without a trace (or About shown).
void ExpectUndisturbed(const HostView& alone, const HostView& calledBack, const Nesting& nesting);

}  // namespace norrow::test
