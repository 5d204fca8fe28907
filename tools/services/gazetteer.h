// The places the stand-in web services know: data/gazetteer.tsv, built into
// the program.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace norrow::tools {

struct Place {
    std::string kind;  // prefecture, office, city, station, mountain, ...
    std::string name;
    std::string yomi;  // katakana
    std::string address;
    double latitude = 0;
    double longitude = 0;
};

struct Box {
    double west, south, east, north;
    bool Contains(const Place& place) const {
        return place.longitude >= west && place.longitude <= east && place.latitude >= south &&
               place.latitude <= north;
    }
};

enum class BoxParts {
    kLenient,  // each part as atof reads it (an empty or wordy part is 0); the last runs to the end
    kNumbers,  // each part one number and nothing else
};

// Reads "W,S,E,N" into `box`; false, leaving `box` as it was, when `text` has
// fewer than four parts or a part is not as `parts` asks.
bool ReadBox(std::string_view text, BoxParts parts, Box& box);

class Gazetteer {
public:
    // Reads the TSV text (UTF-8): "kind name yomi address latitude longitude",
    // lines starting with "#" ignored. Malformed lines are skipped and counted.
    static Gazetteer Parse(std::string_view tsv);
    // The gazetteer built into the program.
    static const Gazetteer& BuiltIn();

    const std::vector<Place>& places() const { return places_; }
    int skippedLines() const { return skipped_; }

    // Places whose name, reading or address holds every blank-separated word
    // of `query` (all places for an empty query), inside `box` when given; the
    // address search looks at every place, the local search leaves out
    // prefectures and cities.
    std::vector<const Place*> Search(std::string_view query, bool addressSearch,
                                     const Box* box) const;

private:
    std::vector<Place> places_;
    int skipped_ = 0;
};

}  // namespace norrow::tools
