#include "services/gazetteer.h"

#include <cstdlib>

#include "platform/numbers.h"

namespace norrow::tools {

extern const char kBuiltInGazetteer[];  // generated from data/gazetteer.tsv

bool ReadBox(std::string_view text, BoxParts parts, Box& box) {
    double values[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t end = i < 3 ? text.find(',', start) : text.size();
        if (end == std::string_view::npos) return false;
        const std::string part(text.substr(start, end - start));
        if (parts == BoxParts::kNumbers) {
            char* stop = nullptr;
            std::strtod(part.c_str(), &stop);  // only to check that the whole part is a number
            if (part.empty() || *stop != '\0') return false;
        }
        values[i] = platform::ReadDouble(part.data(), part.size());
        start = end + 1;
    }
    box = {values[0], values[1], values[2], values[3]};
    return true;
}

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// Words separated by ASCII blanks or the ideographic space.
std::vector<std::string> Words(std::string_view query) {
    std::string text(query);
    for (size_t at; (at = text.find("\xE3\x80\x80")) != std::string::npos;)
        text.replace(at, 3, " ");
    std::vector<std::string> words;
    for (std::string_view word : Split(text, ' ')) {
        if (!word.empty()) words.emplace_back(word);
    }
    return words;
}

}  // namespace

Gazetteer Gazetteer::Parse(std::string_view tsv) {
    Gazetteer gazetteer;
    for (std::string_view line : Split(tsv, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const std::vector<std::string_view> fields = Split(line, '\t');
        if (fields.size() != 6) {
            ++gazetteer.skipped_;
            continue;
        }
        Place place{std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                    std::string(fields[3])};
        place.latitude = platform::ReadDouble(fields[4].data(), fields[4].size());
        place.longitude = platform::ReadDouble(fields[5].data(), fields[5].size());
        gazetteer.places_.push_back(std::move(place));
    }
    return gazetteer;
}

const Gazetteer& Gazetteer::BuiltIn() {
    static const Gazetteer gazetteer = Parse(kBuiltInGazetteer);
    return gazetteer;
}

std::vector<const Place*> Gazetteer::Search(std::string_view query, bool addressSearch,
                                            const Box* box) const {
    const std::vector<std::string> words = Words(query);
    std::vector<const Place*> found;
    for (const Place& place : places_) {
        if (!addressSearch && (place.kind == "prefecture" || place.kind == "city")) continue;
        if (box != nullptr && !box->Contains(place)) continue;
        bool all = true;
        for (const std::string& word : words) {
            if (place.name.find(word) == std::string::npos &&
                place.yomi.find(word) == std::string::npos &&
                place.address.find(word) == std::string::npos) {
                all = false;
                break;
            }
        }
        if (all) found.push_back(&place);
    }
    return found;
}

}  // namespace norrow::tools
