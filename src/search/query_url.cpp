#include "search/query_url.h"

#include <string>

#include "platform/numbers.h"
#include "search/query_encoding.h"

namespace norrow::search {
namespace {

// The room for "query=" and the encoded query; a longer one is cut
// (UrlEncodeQuery).
constexpr int32_t kEncodedQueryCapacity = 1024;

}  // namespace

UrlResult BuildQueryUrl(const Service& service, const SEARCHREQUEST& request, int32_t offset,
                        platform::AnsiString& url) {
    const serverinfo::ServiceEndpoint& endpoint = serverinfo::serverInfo.*service.endpoint;
    url = endpoint.path;
    url += "?appid=";
    url += endpoint.appid;
    url += '&';

    const char* query = request.query != nullptr ? request.query : "";
    if (query[0] != '\0') {
        platform::AnsiString text;
        if (service.isGeocoder) {
            text = query;
        } else if (!AnsiToUtf8(query, text)) {
            return kUrlQueryNotConverted;
        }
        char encoded[kEncodedQueryCapacity];
        UrlEncodeQuery(("query=" + text).c_str(), encoded, sizeof encoded);
        url += encoded;
        url += '&';
    } else if (request.hasBox == 0) {
        return kUrlRefused;
    }
    if (request.filter1 != kNoFilter || request.filter2 != kNoFilter) return kUrlRefused;

    if (service.isGeocoder) url += "ei=SJIS&";
    if (request.hasBox != 0) {
        url += "bbox=";
        for (double value : {request.box1, request.box3, request.box0, request.box2}) {
            platform::AppendFixed6(url, value);
            url += ',';
        }
        url.back() = '&';
        if (service.isGeocoder) url += "datum=wgs&";
    }
    if (offset > 0) url += "start=" + std::to_string(static_cast<int64_t>(offset) + 1) + "&";
    url += "result=" + std::to_string(kPageSize) + "&output=xml";
    return kUrlReady;
}

}  // namespace norrow::search
