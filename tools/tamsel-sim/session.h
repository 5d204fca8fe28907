// One run of the stand-in host: it loads the plug-in, drives it as Tamsel
// does (Create, Load, event 1003 to each hook, event 1007 with a search
// request, Release) and keeps what happened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tamsel-sim/desktop.h"
#include "tamsel-sim/options.h"

namespace norrow::sim {

struct SearchRun {
    std::string hook;  // "address" or "local"
    int result;
};

struct HitView {  // texts in UTF-8
    double latitude, longitude;
    std::string name, address, yomi;
    int32_t attribute;
    uint32_t targetId;
};

struct RequestView {  // texts in UTF-8
    bool post;
    std::string host;
    int32_t port;
    std::string path;
    const char* userAgent;  // null when the request had none
    std::string userAgentText;
    int32_t timeout;
    bool hasHeader, hasBody;
    std::string header, body;
};

struct Outcome {
    int create = 0;
    int load = 0;
    uint32_t addressId = 0, localId = 0;
    std::vector<SearchRun> searches;
    int32_t resultCount = 0;
    std::vector<HitView> hits;
    std::vector<RequestView> requests;
    std::vector<std::string> status, attribution;
    std::vector<ShownBox> boxes;
    bool hasProfile = false;
    uint32_t serverInfoAt = 0;

    // Every hook that ran answered 1.
    bool Served() const;
};

// Runs the search of `options`. False, with a one-line reason, when the run
// could not even start (an unreadable file, a plug-in that does not load).
bool RunSearch(const Options& options, Outcome& outcome, std::string& error);

struct AboutOutcome {
    int result = 0;  // About's: the button pressed
    std::vector<ShownBox> boxes;
};

// Loads the plug-in and calls About. False, with a reason, when the plug-in
// does not load.
bool RunAbout(const Options& options, AboutOutcome& outcome, std::string& error);

}  // namespace norrow::sim
