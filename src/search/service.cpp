#include "search/service.h"

#include "search/search_texts.h"

namespace norrow::search {

uint32_t geocoderTargetId = 0;
uint32_t localTargetId = 0;

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

}  // namespace norrow::search
