// One page of hits from a web search service: SearchGeocoder (the address
// search) and SearchLocal (the local search), one algorithm with the
// differences of the two services in a Service record.
#pragma once

#include <cstdint>

#include "contract/plugin_interface.h"
#include "search/page_reading.h"
#include "search/service.h"
#include "search/xml_locator.h"

namespace norrow::search {

constexpr int32_t kPageTimeout = 20000;

// Fetches the page of `service` that starts after `offset` hits (0: the first
// page, which empties the store first), reads it by `strategy`, appends its
// hits to the store and writes resultCount and results into `request`.
// Returns the service's total number of hits, or -1 when the page failed.
int32_t SearchPage(const Service& service, SEARCHREQUEST* request, void* hostContext,
                   int32_t offset, PageStrategy strategy = PageStrategy::kWalk);

inline int32_t SearchGeocoder(SEARCHREQUEST* request, void* hostContext, int32_t offset,
                              PageStrategy strategy = PageStrategy::kWalk) {
    return SearchPage(kGeocoder, request, hostContext, offset, strategy);
}
inline int32_t SearchLocal(SEARCHREQUEST* request, void* hostContext, int32_t offset,
                           PageStrategy strategy = PageStrategy::kWalk) {
    return SearchPage(kLocalSearch, request, hostContext, offset, strategy);
}

// The last step of a page, for the page search and for measuring it: from
// the reading of an answer, checks the service's status, appends the hits to
// the store and sets the total. False after showing the service's message (a
// service error, or no memory for a hit).
bool ReadPageAnswer(const Service& service, const PageReading& reading, int32_t& total);
// The same from an answer already in the ANSI code page, read by `strategy`.
bool ReadPageAnswer(const Service& service, XmlRange answer, PageStrategy strategy,
                    int32_t& total);

}  // namespace norrow::search
