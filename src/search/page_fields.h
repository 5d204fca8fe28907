// What a page reads from a YDF answer, declared once: which element under
// which parent fills which text of a hit or of the result info. Both
// readings of a page, the plain one (page_reading.cpp) and the walk
// (page_walk.cpp), follow this table and nothing else; reading one more
// text is one more Text and one more row.
#pragma once

#include <cstdint>
#include <string_view>

#include "search/xml_locator.h"

namespace norrow::search {

// The texts a page reads; a hit fills some, the result info others.
enum Text : uint8_t { kTotal, kStatus, kName, kCoordinates, kYomi, kAddress, kTextCount };

// The content of each element, or {nullptr, 0} where the reading found none
// (all of them once value-initialized: `Texts texts{}`).
struct Texts {
    XmlRange of[kTextCount];
    const XmlRange& operator[](Text text) const { return of[text]; }
    XmlRange& operator[](Text text) { return of[text]; }
};

// The elements whose children the page reads.
enum Group : uint8_t { kYdf, kResultInfo, kFeature, kGeometry, kProperty, kGroupCount };

// The root, found in the whole answer as the locator compares names.
inline constexpr const char* kRootName = "YDF";
// Every element of the hit group is one hit; of every other group only the
// first under its parent is read, and that of the info group holds the
// result info. Both lie directly under the root.
inline constexpr Group kHitGroup = kFeature;
inline constexpr Group kInfoGroup = kResultInfo;

// One row: the element `name` under an element of group `parent` either
// opens group `opens` or fills text `fills`.
struct PageElement {
    Group parent;
    std::string_view name;  // a literal in lower-case ASCII (NUL-terminated for the locator)
    Group opens;            // kGroupCount for a text
    Text fills;             // kTextCount for a group
};

constexpr PageElement Opens(Group parent, std::string_view name, Group group) {
    return {parent, name, group, kTextCount};
}
constexpr PageElement Fills(Group parent, std::string_view name, Text text) {
    return {parent, name, kGroupCount, text};
}

inline constexpr PageElement kPageElements[] = {
    Opens(kYdf, "resultinfo", kResultInfo),
    Opens(kYdf, "feature", kFeature),
    Fills(kResultInfo, "total", kTotal),
    Fills(kResultInfo, "status", kStatus),
    Fills(kFeature, "name", kName),
    Opens(kFeature, "geometry", kGeometry),
    Fills(kGeometry, "coordinates", kCoordinates),
    Opens(kFeature, "property", kProperty),
    Fills(kProperty, "yomi", kYomi),
    Fills(kProperty, "address", kAddress),
};

// The row that opens `group`, or null for the root.
constexpr const PageElement* RowOpening(Group group) {
    for (const PageElement& element : kPageElements) {
        if (element.opens == group) return &element;
    }
    return nullptr;
}
static_assert(RowOpening(kHitGroup)->parent == kYdf && RowOpening(kInfoGroup)->parent == kYdf,
              "the readings seek the hits and the result info in the root");

// What a reading finds besides the hits.
struct PageTexts {
    bool ydf = false;  // the answer has a root element; nothing else counts without one
    Texts info{};      // the texts of the info group (the others {nullptr, 0})
};

// Takes the texts of each hit (those of the hit group; the others
// {nullptr, 0}), in document order.
class HitSink {
public:
    virtual void Take(const Texts& hit) = 0;

protected:
    ~HitSink() = default;
};

}  // namespace norrow::search
