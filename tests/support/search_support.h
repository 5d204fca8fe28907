// Helpers for tests that run searches: usable server information, requests
// as the host fills them, and YDF answers built to order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "contract/plugin_interface.h"
#include "support/plugin_test.h"
#include "testkit/ydf_writer.h"

namespace norrow::test {

// Fresh, valid server information with both endpoints and `maxPage`.
void UseServerInfo(int32_t maxPage = 1);

// A request as the host makes it: header set, no filters, `query` in
// Shift-JIS, naming `targets`.
struct Request {
    explicit Request(std::string query = "abc", std::vector<uint32_t> targets = {});
    SEARCHREQUEST record;
    std::string query;
    std::vector<uint32_t> targets;
};

using Hit = testkit::YdfHit;

// A Shift-JIS YDF answer with a ResultInfo (when `status` is not empty) and
// one Feature per hit.
std::string Ydf(const std::vector<Hit>& hits, const std::string& total,
                const std::string& status = "200");

// `count` hits named prefix1, prefix2, ...
std::vector<Hit> Hits(int count, const std::string& prefix = "hit");

// The path of every GET the host received, in order.
std::vector<std::string> RequestedPaths();

// The texts the plug-in put on the status line, in order.
std::vector<std::string> StatusTexts();

}  // namespace norrow::test
