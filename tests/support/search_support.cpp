#include "support/search_support.h"

#include "platform/platform.h"
#include "serverinfo/server_info.h"

namespace norrow::test {

void UseServerInfo(int32_t maxPage) {
    using serverinfo::serverInfo;
    serverInfo.geocoder = {"geo.example", "/geocoder", "", "GEO-ID", 80};
    serverInfo.localSearch = {"local.example", "/local", "", "LOCAL-ID", 8080};
    serverInfo.maxPage = maxPage;
    serverInfo.valid = 1;
    serverInfo.ServerInfoAt = platform::System().now();
}

Request::Request(std::string text, std::vector<uint32_t> ids)
    : record{}, query(std::move(text)), targets(std::move(ids)) {
    record.header = 1;
    record.query = query.c_str();
    record.targetCount = static_cast<int32_t>(targets.size());
    record.targetIds = targets.empty() ? nullptr : targets.data();
    record.filter1 = kNoFilter;
    record.filter2 = kNoFilter;
    record.resultCount = -1;
}

std::string Ydf(const std::vector<Hit>& hits, const std::string& total, const std::string& status) {
    testkit::YdfHead head;
    head.count = std::to_string(hits.size());
    head.total = total;
    head.status = status;
    testkit::YdfWriter page(head);
    for (const Hit& hit : hits) page.Feature(hit);
    return page.Done();
}

std::vector<Hit> Hits(int count, const std::string& prefix) {
    std::vector<Hit> hits;
    for (int i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        hits.push_back({prefix + n, n + ".5," + n + ".25", "yomi" + n, "address" + n});
    }
    return hits;
}

std::vector<std::string> RequestedPaths() {
    std::vector<std::string> paths;
    for (const StandIn_Call* call : PluginTest::Calls(StandIn_FnHttpRequest2)) {
        paths.emplace_back(call->http.path);
    }
    return paths;
}

std::vector<std::string> StatusTexts() {
    std::vector<std::string> texts;
    for (const StandIn_Call* call : PluginTest::Calls(StandIn_FnSetSearchStatus)) {
        texts.emplace_back(call->text);
    }
    return texts;
}

}  // namespace norrow::test
