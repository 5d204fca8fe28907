#include "search/page_search.h"

#include <cstring>
#include <new>

#include "contract/plugin_interface.h"
#include "platform/numbers.h"
#include "platform/platform.h"
#include "results/search_results.h"
#include "search/answer.h"
#include "search/search_texts.h"
#include "search/xml_locator.h"

namespace norrow::search {

const Service kGeocoder = {
    text::kGeocoderName,                // name
    &serverinfo::ServerInfo::geocoder,  // endpoint
    &geocoderTargetId,                  // targetId
    true,                               // isGeocoder
    text::kGeocoderUserAgent,           // userAgent
    text::kGeocoderCommunicationError,  // communicationError
    text::kGeocoderServiceError,        // serviceError
    nullptr,                            // queryConversionError
    text::kGeocoderConversionBox,       // conversionBox
    text::kGeocoderMemoryBox,           // memoryBox
    text::kGeocoderOutputBox,           // outputBox
};

const Service kLocalSearch = {
    text::kLocalName,                      // name
    &serverinfo::ServerInfo::localSearch,  // endpoint
    &localTargetId,                        // targetId
    false,                                 // isGeocoder
    text::kLocalUserAgent,                 // userAgent
    text::kLocalCommunicationError,        // communicationError
    text::kLocalServiceError,              // serviceError
    text::kLocalQueryConversionError,      // queryConversionError
    text::kLocalConversionBox,             // conversionBox
    text::kLocalMemoryBox,                 // memoryBox
    text::kLocalOutputBox,                 // outputBox
};

namespace {

constexpr int32_t kStatusOk = 200;
constexpr int32_t kStatusNotFound = 404;

// A text of an element, copied into a fixed buffer as the hit is read: a text
// of kTextCapacity bytes or more counts as absent. Read as a C string.
class ElementText {
public:
    ElementText() { text_[0] = '\0'; }

    // Copies the content of the element `name` found in `parent`.
    void ReadFrom(XmlRange parent, const char* name) {
        XmlRange content{}, rest{};
        if (FindXmlElement(parent, name, content, rest) == 1 && content.length < kTextCapacity) {
            std::memcpy(text_, content.start, static_cast<size_t>(content.length));
            text_[content.length] = '\0';
        }
    }

    const char* get() const { return text_; }
    int32_t AsInt() const { return platform::ReadInt32(text_, std::strlen(text_)); }

private:
    char text_[kTextCapacity];
};

// The content of the element `name` in `parent`, or an empty range.
XmlRange Child(XmlRange parent, const char* name) {
    XmlRange content{}, rest{};
    if (FindXmlElement(parent, name, content, rest) == 1) return content;
    return {parent.start, 0};
}

// "lon,lat": the longitude before the first comma, the latitude after it.
// Without a comma the hit has no coordinates, and both stay 0.
void ReadCoordinates(const ElementText& text, double& longitude, double& latitude) {
    const char* coordinates = text.get();
    const char* comma = std::strchr(coordinates, ',');
    longitude = latitude = 0.0;
    if (comma == nullptr) return;
    longitude = platform::ReadDouble(coordinates, static_cast<size_t>(comma - coordinates));
    latitude = platform::ReadDouble(comma + 1, std::strlen(comma + 1));
}

// Appends one hit per feature element of the YDF content. False when memory
// runs out.
bool AppendFeatures(const Service& service, XmlRange ydf) {
    XmlRange position = ydf;
    XmlRange feature{}, rest{};
    while (FindXmlElement(position, "feature", feature, rest) == 1) {
        position = rest;
        ElementText name, coordinates, yomi, address;
        name.ReadFrom(feature, "name");
        coordinates.ReadFrom(Child(feature, "geometry"), "coordinates");
        const XmlRange property = Child(feature, "property");
        yomi.ReadFrom(property, "yomi");
        address.ReadFrom(property, "address");
        double longitude, latitude;
        ReadCoordinates(coordinates, longitude, latitude);
        if (!results::AppendSearchResult(name.get(), yomi.get(), address.get(), longitude, latitude,
                                         *service.targetId)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadPageAnswer(const Service& service, XmlRange answer, int32_t& total) {
    total = 0;
    XmlRange ydf{}, rest{};
    if (FindXmlElement(answer, "YDF", ydf, rest) == 0) return true;  // a UTF-16 answer without hits

    ElementText totalText, statusText;
    XmlRange resultInfo{};
    if (FindXmlElement(ydf, "resultinfo", resultInfo, rest) == 1) {
        totalText.ReadFrom(resultInfo, "total");
        statusText.ReadFrom(resultInfo, "status");
    }
    const int32_t status = statusText.AsInt();
    if (status != kStatusOk && status != kStatusNotFound) {
        TSI_SetSearchStatus(service.serviceError);
        return false;
    }
    if (!AppendFeatures(service, ydf)) {
        platform::System().messageBox(service.memoryBox, platform::kBoxStop);
        return false;
    }
    total = totalText.AsInt();
    return true;
}

namespace {

int32_t SearchPageUnguarded(const Service& service, SEARCHREQUEST* request, void* hostContext,
                            int32_t offset) {
    if (request == nullptr || request->header == 0) return -1;
    TSI_GetDatum(TSI_GetActiveCoverMap());  // asked as the host expects; not needed here
    if (offset == 0) results::ResetSearchResults();
    if (!serverinfo::FetchServerInfo()) {
        TSI_SetSearchStatus(service.communicationError);
        return -1;
    }

    platform::AnsiString url;
    switch (BuildQueryUrl(service, *request, offset, url)) {
        case kUrlReady:
            break;
        case kUrlRefused:
            return -1;
        case kUrlQueryNotConverted:
            TSI_SetSearchStatus(service.queryConversionError);
            return -1;
    }

    const serverinfo::ServiceEndpoint& endpoint = serverinfo::serverInfo.*service.endpoint;
    char* bytes = nullptr;
    int32_t length = 0;
    const int failed = TSI_HttpRequest2(&bytes, &length, endpoint.host.c_str(), endpoint.port,
                                        url.c_str(), kPageTimeout, hostContext, nullptr, nullptr,
                                        nullptr, nullptr, service.userAgent);
    Answer answer;
    answer.TakeHostBuffer(bytes, length);  // ours now, whatever the result
    if (failed != 0) {
        TSI_SetSearchStatus(service.communicationError);
        return -1;
    }
    if (!BringIntoAnsiCodePage(service, answer)) return -1;

    int32_t total = 0;
    if (!ReadPageAnswer(service, answer.Bytes(), total)) return -1;
    TSI_SetSearchURL(text::kAttribution);
    // Written last, so that a page that fails on the way writes nothing back.
    request->resultCount = results::searchResults.size;
    request->results = results::searchResults.data;
    return total;
}

}  // namespace

int32_t SearchPage(const Service& service, SEARCHREQUEST* request, void* hostContext,
                   int32_t offset) {
    try {
        return SearchPageUnguarded(service, request, hostContext, offset);
    } catch (const std::bad_alloc&) {
        platform::System().messageBox(service.memoryBox, platform::kBoxStop);
        return -1;
    }
}

}  // namespace norrow::search
