#include "search/hooks.h"

#include "contract/guard.h"
#include "contract/plugin_interface.h"
#include "results/search_results.h"
#include "search/page_search.h"
#include "search/service.h"
#include "serverinfo/server_info.h"

namespace norrow::search {

namespace {

// Whether a search of either target is running. The host may call a hook
// again before a search returns: its window stays responsive while it waits
// in TSI_HttpRequest2, and the plug-in's modal message boxes run a message
// loop. Such a nested search would empty the store that the running one is
// filling and hands out, so it is refused (see RunSearch).
bool searchRunning = false;

// Marks a search as running for its lifetime; false when one already was.
class RunningSearch {
public:
    RunningSearch() : admitted_(!searchRunning) { searchRunning = true; }
    ~RunningSearch() {
        if (admitted_) searchRunning = false;
    }
    RunningSearch(const RunningSearch&) = delete;
    RunningSearch& operator=(const RunningSearch&) = delete;
    bool admitted() const { return admitted_; }

private:
    const bool admitted_;
};

bool NamesTarget(const SEARCHREQUEST& request, uint32_t id) {
    if (request.targetCount <= 0 || request.targetIds == nullptr) return false;
    for (int32_t i = 0; i < request.targetCount; ++i) {
        if (request.targetIds[i] == id) return true;
    }
    return false;
}

// Asks for pages until one fails (0), the page limit is reached or the hits
// held reach the service's total (1). The limit and the count are read afresh
// each time: a page may have downloaded new server information. A search that
// arrives while another is running returns 0 at once and touches nothing, not
// even its request.
int32_t RunSearch(const Service& service, SEARCHREQUEST* request, void* hostContext) {
    const RunningSearch running;
    if (!running.admitted()) return 0;
    const uint32_t id = *service.targetId;
    if (id == 0 || request == nullptr || !NamesTarget(*request, id)) return 0;
    int32_t total = SearchPage(service, request, hostContext, 0);
    if (total < 0) return 0;
    for (int32_t pages = 1;; ++pages) {
        if (pages >= serverinfo::serverInfo.maxPage) return 1;
        const int32_t held = results::searchResults.size;
        if (held >= total) return 1;
        total = SearchPage(service, request, hostContext, held);
        if (total < 0) return 0;
    }
}

int32_t HookProc(const Service& service, int32_t event, void* hostContext, void* record) {
    switch (event) {
        case kEventRegisterTarget:
            *service.targetId = TSI_InsertSearchTarget(0, 2, service.name, 0);
            return 0;
        case kEventSearch:
            return RunSearch(service, static_cast<SEARCHREQUEST*>(record), hostContext);
        default:
            return 0;
    }
}

}  // namespace

int Load(uint32_t pluginHandle) {
    HOOKENTRY entry{sizeof(HOOKENTRY), pluginHandle, GeocoderHookProc, 0};
    TSI_AddHook(kHookKindSearch, &entry);
    entry.hookProc = LocalSearchHookProc;
    TSI_AddHook(kHookKindSearch, &entry);
    return 1;
}

int32_t TSI_CALL GeocoderHookProc(int32_t event, void* hostContext, void* record) {
    return contract::Guarded(0, [&] { return HookProc(kGeocoder, event, hostContext, record); });
}

int32_t TSI_CALL LocalSearchHookProc(int32_t event, void* hostContext, void* record) {
    return contract::Guarded(0, [&] { return HookProc(kLocalSearch, event, hostContext, record); });
}

}  // namespace norrow::search
