// Any answer through a whole page search, address or local, by way of the
// stand-in host: a result code, a store of equal lengths, readable hits, and
// the request written back exactly when the page succeeded.
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "platform/platform.h"
#include "results/search_results.h"
#include "search/page_search.h"
#include "serverinfo/server_info.h"
#include "standin.h"

namespace {

using namespace norrow;

int32_t Noon() { return 1800000000; }
int Ok(const char*, unsigned) { return platform::kButtonOk; }

bool Succeeded() {
    for (int i = 0; i < StandIn_CallCount(); ++i) {
        if (StandIn_GetCall(i)->function == StandIn_FnSetSearchURL) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::System().now = Noon;
    platform::System().messageBox = Ok;
    StandIn_Reset();
    serverinfo::ServerInfo& info = serverinfo::serverInfo;
    info.geocoder = {"geo.example", "/geocoder", "", "id", 80};
    info.localSearch = {"local.example", "/local", "", "id", 80};
    info.valid = 1;
    info.ServerInfoAt = Noon();
    search::geocoderTargetId = 1;
    search::localTargetId = 2;

    const bool local = size > 0 && (data[0] & 1);
    const int32_t offset = size > 0 && (data[0] & 2) ? 10 : 0;
    if (size > 0) ++data, --size;
    StandIn_HttpReply reply{};
    reply.bytes = reinterpret_cast<const char*>(data);
    reply.length = static_cast<int32_t>(size);
    StandIn_QueueReply(StandIn_Get, &reply);

    SEARCHREQUEST request{};
    request.header = 1;
    request.query = "\x95\x78\x8E\x6D";
    request.filter1 = request.filter2 = kNoFilter;
    request.resultCount = -7;
    const int32_t total = local ? search::SearchLocal(&request, nullptr, offset)
                                : search::SearchGeocoder(&request, nullptr, offset);
    (void)total;

    const results::SearchResultArray& store = results::searchResults;
    FUZZ_CHECK(results::NameList.size() == store.size);
    FUZZ_CHECK(results::YomiList.size() == store.size);
    FUZZ_CHECK(results::AddressList.size() == store.size);
    if (Succeeded()) {
        FUZZ_CHECK(request.resultCount == store.size && request.results == store.data);
    } else {
        FUZZ_CHECK(request.resultCount == -7 && request.results == nullptr);
    }
    for (int32_t i = 0; i < store.size; ++i) {
        const SEARCHRESULT& hit = store.data[i];
        FUZZ_CHECK(std::strlen(hit.name) < 1024 && std::strlen(hit.yomi) < 1024 &&
                   std::strlen(hit.address) < 1024);
        FUZZ_CHECK(hit.attribute == kHitAttribute);
    }
    if (store.size > 200000) results::ResetSearchResults();  // offset pages keep appending
    return 0;
}
