// YDF pages, the XML answers of the search services, written to order: for
// the tests, the benchmarks and the stand-in services alike. Texts go in as
// they are, already escaped and in the page's encoding.
#pragma once

#include <string>

namespace norrow::testkit {

// The declaration, <YDF> and its ResultInfo.
struct YdfHead {
    std::string encoding = "Shift_JIS";
    // No ResultInfo when `status` is empty.
    std::string count, total, status = "200";
    // When not empty, the head the services send: the counts and `start` as
    // attributes of <YDF> too, and Start, Description, Copyright and Latency
    // in the ResultInfo.
    std::string start, latency;
};

// What every feature has: Name, Geometry/Coordinates, Property/Yomi and
// Property/Address.
struct YdfHit {
    std::string name, coordinates, yomi, address;
};

// The rest of a feature as the local search sends it: Id, Gid, Geometry/Type
// and BoundingBox (the point), Category, Description, Style, Property/Uid,
// CassetteId and Country. An empty Gid or Description is written <Gid/>.
struct YdfLocal {
    std::string id, gid, category, description, uid, cassetteId, countryName;
    std::string moreProperty;    // written at the end of the Property, as it is
    const char* separator = "";  // after each child of Feature and Property
};

class YdfWriter {
public:
    explicit YdfWriter(const YdfHead& head);
    YdfWriter& Feature(const YdfHit& hit, const YdfLocal* local = nullptr);
    // The page, ended.
    std::string Done();

private:
    std::string text_;
};

}  // namespace norrow::testkit
