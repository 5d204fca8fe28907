#include "readers.h"

#include <cstring>
#include <pugixml.hpp>

#include "platform/numbers.h"
#include "results/search_results.h"
#include "search/page_search.h"
#include "search/xml_bytes.h"

namespace norrow::bench {
namespace {

void Copy1024(const char* text, char (&buffer)[1024]) {
    const size_t length = std::strlen(text);
    if (length < 1024) {
        std::memcpy(buffer, text, length + 1);
    } else {
        buffer[0] = '\0';
    }
}

}  // namespace

bool ReadAsPlugin(const std::string& answer, bool plainly) {
    results::ResetSearchResults();
    const search::XmlRange range{answer.data(), static_cast<int32_t>(answer.size())};
    int32_t total = 0;
    const auto strategy = plainly ? search::PageStrategy::kPlain : search::PageStrategy::kWalk;
    return search::ReadPageAnswer(search::kGeocoder, range, strategy, total);
}

bool ReadWithPugixml(const std::string& answer, std::vector<char>& buffer) {
    results::ResetSearchResults();
    std::memcpy(buffer.data(), answer.data(), answer.size());
    pugi::xml_document document;
    document.load_buffer_inplace(buffer.data(), buffer.size(), pugi::parse_minimal,
                                 pugi::encoding_utf8);
    const pugi::xml_node ydf = document.child("YDF");
    const pugi::xml_node info = ydf.child("ResultInfo");
    const int32_t status = platform::ReadInt32(info.child_value("Status"), 3);
    if (status != 200 && status != 404) return false;
    for (pugi::xml_node feature = ydf.child("Feature"); feature;
         feature = feature.next_sibling("Feature")) {
        char name[1024], coordinates[1024], yomi[1024], address[1024];
        Copy1024(feature.child_value("Name"), name);
        Copy1024(feature.child("Geometry").child_value("Coordinates"), coordinates);
        const pugi::xml_node property = feature.child("Property");
        Copy1024(property.child_value("Yomi"), yomi);
        Copy1024(property.child_value("Address"), address);
        const char* comma = std::strchr(coordinates, ',');
        const double longitude = comma ? platform::ReadDouble(coordinates, comma - coordinates) : 0;
        const double latitude = comma ? platform::ReadDouble(comma + 1, std::strlen(comma + 1)) : 0;
        results::AppendSearchResult(name, yomi, address, longitude, latitude, 1);
    }
    const char* total = info.child_value("Total");
    return platform::ReadInt32(total, std::strlen(total)) >= 0;
}

size_t CountAngleBrackets(const std::string& answer) {
    size_t tags = 0;
    const char* p = answer.data();
    const char* end = p + answer.size();
    while ((p = static_cast<const char*>(std::memchr(p, '<', end - p))) != nullptr) {
        ++tags;
        ++p;
    }
    return tags;
}

size_t ScanTags(const std::string& answer) {
    namespace bytes = search::bytes;
    size_t names = 0;
    const char* end = answer.data() + answer.size();
    for (const char* lt = bytes::Find(answer.data(), end, '<'); lt != nullptr && end - lt > 1;
         lt = bytes::Find(lt + 1, end, '<')) {
        const char* name = lt[1] == '/' ? lt + 2 : lt + 1;
        const char* nameEnd = bytes::NameEndByWords(name, end, bytes::kNameEnds.topLevelOrTag);
        if (nameEnd == nullptr) break;
        names += static_cast<size_t>(nameEnd - name);
    }
    return names;
}

}  // namespace norrow::bench
