// The two web search services, the address search and the local search: what
// differs between them, for the page search and its steps.
#pragma once

#include <cstdint>

#include "serverinfo/server_info.h"

namespace norrow::search {

// The ids the host gave the two search targets; 0 while not registered.
extern uint32_t geocoderTargetId;
extern uint32_t localTargetId;

struct Service {
    const char* name;
    serverinfo::ServiceEndpoint serverinfo::ServerInfo::*endpoint;
    uint32_t* targetId;
    bool isGeocoder;  // sends the query as Shift-JIS, with ei=SJIS and datum=wgs
    const char* userAgent;
    const char* communicationError;    // status line
    const char* serviceError;          // status line
    const char* queryConversionError;  // status line; local search only
    const char* conversionBox;
    const char* memoryBox;
    const char* outputBox;
};

extern const Service kGeocoder;
extern const Service kLocalSearch;

}  // namespace norrow::search
