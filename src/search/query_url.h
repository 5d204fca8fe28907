// The path and query of a page request to a search service.
#pragma once

#include <cstdint>

#include "contract/plugin_interface.h"
#include "platform/text.h"
#include "search/service.h"

namespace norrow::search {

constexpr int32_t kPageSize = 10;  // hits a page asks for

// Builds the request of `service` for the page of `request` that starts after
// `offset` hits into `url`. Returns kUrlReady, kUrlRefused (a request no page
// serves) or kUrlQueryNotConverted.
enum UrlResult { kUrlReady, kUrlRefused, kUrlQueryNotConverted };
UrlResult BuildQueryUrl(const Service& service, const SEARCHREQUEST& request, int32_t offset,
                        platform::AnsiString& url);

}  // namespace norrow::search
