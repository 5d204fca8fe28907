#include "testkit/reading_outcome.h"

#include <cstring>

#include "platform/platform.h"
#include "results/search_results.h"
#include "standin.h"

namespace norrow::testkit {
namespace {

std::vector<std::string>* shownBoxes = nullptr;

int NoteBox(const char* text, unsigned) {
    shownBoxes->emplace_back(text);
    return platform::kButtonOk;
}

template <typename T>
void AppendBytes(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

bool Outcome::operator==(const Outcome& other) const {
    return read == other.read && total == other.total && statusLines == other.statusLines &&
           boxes == other.boxes && hits == other.hits;
}

Outcome Read(search::PageStrategy strategy, const std::vector<char>& answer) {
    Outcome outcome{};
    shownBoxes = &outcome.boxes;
    platform::System().messageBox = NoteBox;
    StandIn_Reset();
    results::ResetSearchResults();
    search::geocoderTargetId = 7;
    outcome.read = search::ReadPageAnswer(search::kGeocoder,
                                          {answer.data(), static_cast<int32_t>(answer.size())},
                                          strategy, outcome.total);
    for (int i = 0; i < StandIn_CallCount(); ++i) {
        const StandIn_Call* call = StandIn_GetCall(i);
        if (call->function == StandIn_FnSetSearchStatus)
            outcome.statusLines.emplace_back(call->text);
    }
    const results::SearchResultArray& store = results::searchResults;
    for (int32_t i = 0; i < store.size; ++i) {
        const SEARCHRESULT& hit = store.data[i];
        for (const char* text : {hit.name, hit.yomi, hit.address})
            outcome.hits.append(text, std::strlen(text) + 1);
        AppendBytes(outcome.hits, hit.longitude);
        AppendBytes(outcome.hits, hit.latitude);
        AppendBytes(outcome.hits, hit.targetId);
        AppendBytes(outcome.hits, hit.attribute);
    }
    results::ResetSearchResults();
    return outcome;
}

}  // namespace norrow::testkit
