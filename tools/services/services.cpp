#include "services/services.h"

#include <algorithm>
#include <cstdio>

#include "platform/numbers.h"
#include "platform/recode.h"
#include "search/query_encoding.h"
#include "testkit/ydf_writer.h"

namespace norrow::tools {
namespace {

constexpr int kDefaultResults = 10;
constexpr int kMaxResults = 100;

std::string XmlEscaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Fixed6(double value) {
    std::string out;
    platform::AppendFixed6(out, value);
    return out;
}

// WGS84 to the old Tokyo datum, by the usual first-order formula.
void ToTokyoDatum(double& latitude, double& longitude) {
    const double lat = latitude, lon = longitude;
    latitude = lat + 0.00010696 * lat - 0.000017467 * lon - 0.0046020;
    longitude = lon + 0.000046047 * lat + 0.000083049 * lon - 0.010041;
}

HttpAnswer ErrorAnswer(int status, const std::string& message) {
    return {status, "application/xml; charset=UTF-8",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error>\n<Message>" + message +
                "</Message>\n</Error>\n"};
}

void AppendFeature(testkit::YdfWriter& page, const Place& place, int id, bool tokyoDatum) {
    double latitude = place.latitude, longitude = place.longitude;
    if (tokyoDatum) ToTokyoDatum(latitude, longitude);
    testkit::YdfLocal local;
    local.id = std::to_string(id);
    local.category = place.kind;
    local.uid = std::to_string(100000 + id);
    local.cassetteId = "norrow-gazetteer";
    local.countryName = "JP";
    page.Feature({XmlEscaped(place.name), Fixed6(longitude) + "," + Fixed6(latitude),
                  XmlEscaped(place.yomi), XmlEscaped(place.address)},
                 &local);
}

}  // namespace

std::map<std::string, std::string> QueryParameters(std::string_view target) {
    std::map<std::string, std::string> parameters;
    const size_t question = target.find('?');
    if (question == std::string_view::npos) return parameters;
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const size_t equals = pair.find('=');
        parameters[search::UrlDecode(pair.substr(0, equals))] =
            equals == std::string_view::npos ? "" : search::UrlDecode(pair.substr(equals + 1));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return parameters;
}

HttpAnswer AnswerServerInfo(const std::map<std::string, std::string>& formFields, int port) {
    const auto version = formFields.find("version");
    const bool wellFormed = formFields.size() == 1 && version != formFields.end() &&
                            !version->second.empty() &&
                            std::all_of(version->second.begin(), version->second.end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
    if (!wellFormed) return {200, "text/plain", "SERVERINFO\r\nDENIED\r\n"};
    // host,path,referer,port,appid
    auto endpoint = [port](const char* path) {
        return std::string("127.0.0.1,") + path + ",," + std::to_string(port) + "," +
               kServicesAppid + "\r\n";
    };
    return {200, "text/plain",
            "SERVERINFO\r\nGEOCODER " + endpoint(kGeocoderPath) + "LOCALSEARCH " +
                endpoint(kLocalSearchPath) + "MAXPAGE " + std::to_string(kServicesMaxPage) +
                "\r\n"};
}

HttpAnswer AnswerSearch(std::string_view target, const Gazetteer& gazetteer) {
    const std::string_view path = target.substr(0, target.find('?'));
    const bool addressSearch = path == kGeocoderPath;
    if (!addressSearch && path != kLocalSearchPath) return {404, "text/plain", "not found\n"};
    std::map<std::string, std::string> parameters = QueryParameters(target);
    if (parameters.count("appid") == 0) return ErrorAnswer(401, "appid is missing.");
    if (parameters["appid"] != kServicesAppid) return ErrorAnswer(403, "appid is not valid.");

    std::string query = parameters["query"];
    if (parameters["ei"] == "SJIS") query = platform::Utf8FromShiftJis(query);
    Box box{};
    const bool hasBox =
        parameters.count("bbox") != 0 && ReadBox(parameters["bbox"], BoxParts::kLenient, box);
    const std::vector<const Place*> found =
        gazetteer.Search(query, addressSearch, hasBox ? &box : nullptr);

    const int start =
        std::max(1, platform::ReadInt32(parameters["start"].data(), parameters["start"].size()));
    int wanted = parameters.count("result")
                     ? platform::ReadInt32(parameters["result"].data(), parameters["result"].size())
                     : kDefaultResults;
    wanted = std::clamp(wanted, 1, kMaxResults);
    const int total = static_cast<int>(found.size());
    const int first = std::min(start - 1, total);
    const int count = std::min(wanted, total - first);
    const bool tokyoDatum = parameters["datum"] == "tky";

    testkit::YdfHead head;
    head.encoding = "UTF-8";
    head.count = std::to_string(count);
    head.total = std::to_string(total);
    head.start = std::to_string(start);
    head.latency = "0.001";
    testkit::YdfWriter page(head);
    for (int i = 0; i < count; ++i)
        AppendFeature(page, *found[first + i], first + i + 1, tokyoDatum);
    return {200, "application/xml; charset=UTF-8", page.Done()};
}

}  // namespace norrow::tools
