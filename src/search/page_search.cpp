#include "search/page_search.h"

#include <cstring>
#include <new>

#include "contract/plugin_interface.h"
#include "platform/numbers.h"
#include "platform/platform.h"
#include "results/search_results.h"
#include "search/answer.h"
#include "search/query_url.h"
#include "search/search_texts.h"

namespace norrow::search {

namespace {

constexpr int32_t kStatusOk = 200;
constexpr int32_t kStatusNotFound = 404;
constexpr int32_t kTextCapacity = 1024;  // a text of this length or more counts as absent

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
bool AppendHit(const Service& service, const Texts& texts) {
    const ElementText name(texts[kName]), coordinates(texts[kCoordinates]), yomi(texts[kYomi]),
        address(texts[kAddress]);
    double longitude, latitude;
    ReadCoordinates(coordinates, longitude, latitude);
    return results::AppendSearchResult(name.get(), yomi.get(), address.get(), longitude, latitude,
                                       *service.targetId);
}

// Whether the service's status lets the page read its hits; else puts the
// service error on the status line. A missing status counts as 0.
bool StatusAccepted(const Service& service, const PageTexts& page) {
    const int32_t status = ElementText(page.info[kStatus]).AsInt();
    if (status == kStatusOk || status == kStatusNotFound) return true;
    TSI_SetSearchStatus(service.serviceError);
    return false;
}

bool NoMemoryForHits(const Service& service) {
    platform::System().messageBox(service.memoryBox, platform::kBoxStop);
    return false;
}

// Appends the hits as they come, up to the first that finds no memory.
class AppendedHits final : public HitSink {
public:
    explicit AppendedHits(const Service& service) : service_(service) {}
    void Take(const Texts& hit) override { ok_ = ok_ && AppendHit(service_, hit); }
    bool ok() const { return ok_; }

private:
    const Service& service_;
    bool ok_ = true;
};

}  // namespace

bool ReadPageAnswer(const Service& service, const PageReading& reading, int32_t& total) {
    total = 0;
    const PageTexts& page = reading.Page();
    if (!page.ydf) return true;  // a UTF-16 answer without hits
    if (!StatusAccepted(service, page)) return false;
    AppendedHits appending(service);
    reading.HandHits(appending);
    if (!appending.ok()) return NoMemoryForHits(service);
    total = ElementText(page.info[kTotal]).AsInt();
    return true;
}

bool ReadPageAnswer(const Service& service, XmlRange answer, PageStrategy strategy,
                    int32_t& total) {
    PageReading reading;
    reading.Read(answer, strategy);
    return ReadPageAnswer(service, reading, total);
}

namespace {

int32_t SearchPageUnguarded(const Service& service, SEARCHREQUEST* request, void* hostContext,
                            int32_t offset, PageStrategy strategy) {
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
    Answer answer(strategy);
    answer.TakeHostBuffer(bytes, length);  // ours now, whatever the result
    if (failed != 0) {
        TSI_SetSearchStatus(service.communicationError);
        return -1;
    }
    if (!BringIntoAnsiCodePage(service, answer)) return -1;

    int32_t total = 0;
    if (!ReadPageAnswer(service, answer.Reading(), total)) return -1;
    TSI_SetSearchURL(text::kAttribution);
    // Written last, so that a page that fails on the way writes nothing back.
    request->resultCount = results::searchResults.size;
    request->results = results::searchResults.data;
    return total;
}

}  // namespace

int32_t SearchPage(const Service& service, SEARCHREQUEST* request, void* hostContext,
                   int32_t offset, PageStrategy strategy) {
    try {
        return SearchPageUnguarded(service, request, hostContext, offset, strategy);
    } catch (const std::bad_alloc&) {
        platform::System().messageBox(service.memoryBox, platform::kBoxStop);
        return -1;
    }
}

}  // namespace norrow::search
