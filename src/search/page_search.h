// One page of hits from a web search service: SearchGeocoder (the address
// search) and SearchLocal (the local search), one algorithm with the
// differences of the two services in a Service record.
#pragma once

#include <cstdint>

#include "contract/plugin_interface.h"
#include "search/answer.h"
#include "search/xml_locator.h"
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

constexpr int32_t kPageSize = 10;
constexpr int32_t kPageTimeout = 20000;
constexpr int32_t kTextCapacity = 1024;  // a text of this length or more counts as absent

// Fetches the page of `service` that starts after `offset` hits (0: the first
// page, which empties the store first), appends its hits to the store and
// writes resultCount and results into `request`. Returns the service's total
// number of hits, or -1 when the page failed.
int32_t SearchPage(const Service& service, SEARCHREQUEST* request, void* hostContext,
                   int32_t offset);

inline int32_t SearchGeocoder(SEARCHREQUEST* request, void* hostContext, int32_t offset) {
    return SearchPage(kGeocoder, request, hostContext, offset);
}
inline int32_t SearchLocal(SEARCHREQUEST* request, void* hostContext, int32_t offset) {
    return SearchPage(kLocalSearch, request, hostContext, offset);
}

// The steps of a page, for the page search and for measuring it:
// reads the total and the status of an answer already in the ANSI code page
// and appends its hits to the store. False after showing the service's
// message (a service error, or no memory for a hit).
//
// The plain reading finds each element with FindXmlElement, narrowing from
// the whole answer to the YDF content, a Feature, its Geometry, and so on.
bool ReadPageAnswerPlainly(const Service& service, XmlRange answer, int32_t& total);
// The same in one pass over the answer (page_walk.h), which reads the page
// plainly where the walk cannot be sure to find what the plain reading finds.
bool ReadPageAnswer(const Service& service, XmlRange answer, int32_t& total);
// The same from the walk of an answer that BringIntoAnsiCodePage has already
// made, as a page search reads.
bool ReadPageAnswer(const Service& service, Answer& answer, int32_t& total);
// Whether page searches read plainly, without the walk: the test for a YDF
// element by the locator, the reading element by element. Tests set it to
// hold both readings to the same tables, benchmarks to measure both.
extern bool readPagesPlainly;

// The path and query of a page request. Returns kUrlReady, kUrlRefused (a
// request no page serves) or kUrlQueryNotConverted.
enum UrlResult { kUrlReady, kUrlRefused, kUrlQueryNotConverted };
UrlResult BuildQueryUrl(const Service& service, const SEARCHREQUEST& request, int32_t offset,
                        platform::AnsiString& url);

}  // namespace norrow::search
