#include "search/page_search.h"

#include <cstring>
#include <new>

#include "contract/plugin_interface.h"
#include "platform/numbers.h"
#include "platform/platform.h"
#include "results/search_results.h"
#include "search/answer.h"
#include "search/page_walk.h"
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
    // Copies `content`, the content of an element, or nothing where the
    // element is absent ({nullptr, 0}).
    explicit ElementText(XmlRange content) {
        text_[0] = '\0';
        if (content.start != nullptr && content.length < kTextCapacity) {
            std::memcpy(text_, content.start, static_cast<size_t>(content.length));
            text_[content.length] = '\0';
        }
    }

    const char* get() const { return text_; }
    int32_t AsInt() const { return platform::ReadInt32(text_, std::strlen(text_)); }

private:
    char text_[kTextCapacity];
};

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

// Appends one hit. False when memory runs out.
bool AppendHit(const Service& service, const HitTexts& texts) {
    const ElementText name(texts.name), coordinates(texts.coordinates), yomi(texts.yomi),
        address(texts.address);
    double longitude, latitude;
    ReadCoordinates(coordinates, longitude, latitude);
    return results::AppendSearchResult(name.get(), yomi.get(), address.get(), longitude, latitude,
                                       *service.targetId);
}

// Whether the service's status lets the page read its hits; else puts the
// service error on the status line. A missing status counts as 0.
bool StatusAccepted(const Service& service, const PageTexts& page) {
    const int32_t status = ElementText(page.status).AsInt();
    if (status == kStatusOk || status == kStatusNotFound) return true;
    TSI_SetSearchStatus(service.serviceError);
    return false;
}

bool NoMemoryForHits(const Service& service) {
    platform::System().messageBox(service.memoryBox, platform::kBoxStop);
    return false;
}

// The content of the element `name` in `parent`, or {nullptr, 0}: one step of
// the plain reading.
XmlRange Content(XmlRange parent, const char* name) {
    XmlRange content{}, rest{};
    if (FindXmlElement(parent, name, content, rest) == 1) return content;
    return {};
}

// Appends the hits of a walk as they come, up to the first that finds no
// memory.
class AppendedHits final : public HitSink {
public:
    explicit AppendedHits(const Service& service) : service_(service) {}
    void Take(const HitTexts& hit) override { ok_ = ok_ && AppendHit(service_, hit); }
    bool ok() const { return ok_; }

private:
    const Service& service_;
    bool ok_ = true;
};

}  // namespace

bool ReadPageAnswerPlainly(const Service& service, XmlRange answer, int32_t& total) {
    total = 0;
    const XmlRange ydf = Content(answer, "YDF");
    if (ydf.start == nullptr) return true;  // a UTF-16 answer without hits

    const XmlRange resultInfo = Content(ydf, "resultinfo");
    const PageTexts page{true, Content(resultInfo, "total"), Content(resultInfo, "status")};
    if (!StatusAccepted(service, page)) return false;
    XmlRange position = ydf;
    XmlRange feature{}, rest{};
    while (FindXmlElement(position, "feature", feature, rest) == 1) {
        position = rest;
        const XmlRange geometry = Content(feature, "geometry");
        const XmlRange property = Content(feature, "property");
        const HitTexts hit{Content(feature, "name"), Content(geometry, "coordinates"),
                           Content(property, "yomi"), Content(property, "address")};
        if (!AppendHit(service, hit)) return NoMemoryForHits(service);
    }
    total = ElementText(page.total).AsInt();
    return true;
}

namespace {

// The reading of an answer from its walk: where the walk is sure, the hits it
// held (or, when it found more than it holds, those of a second walk); where
// it is unsure, the plain reading.
bool ReadWalkedAnswer(const Service& service, XmlRange answer, const WalkedPage& walked,
                      int32_t& total) {
    total = 0;
    if (walked.verdict == WalkVerdict::kUnsure) {
        return ReadPageAnswerPlainly(service, answer, total);
    }
    if (!walked.page.ydf) return true;  // a UTF-16 answer without hits
    if (!StatusAccepted(service, walked.page)) return false;
    bool appended = true;
    if (walked.hits <= WalkedPage::kHeld) {
        for (int i = 0; i < walked.hits && appended; ++i) {
            appended = AppendHit(service, walked.held[i]);
        }
    } else {
        PageTexts page;
        AppendedHits appending(service);
        WalkPage(answer, page, appending);  // sure again: the same bytes
        appended = appending.ok();
    }
    if (!appended) return NoMemoryForHits(service);
    total = ElementText(walked.page.total).AsInt();
    return true;
}

}  // namespace

bool ReadPageAnswer(const Service& service, XmlRange answer, int32_t& total) {
    WalkedPage walked;
    WalkPage(answer, walked);
    return ReadWalkedAnswer(service, answer, walked, total);
}

bool ReadPageAnswer(const Service& service, Answer& answer, int32_t& total) {
    return ReadWalkedAnswer(service, answer.Bytes(), answer.Walked(), total);
}

bool readPagesPlainly = false;

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
    const bool read = readPagesPlainly ? ReadPageAnswerPlainly(service, answer.Bytes(), total)
                                       : ReadPageAnswer(service, answer, total);
    if (!read) return -1;
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
