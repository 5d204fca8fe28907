// Reads a YDF answer in one pass: everything the page search reads, found
// exactly where the plain reading (FindXmlElement, element by element) finds
// it, or the verdict that the walk cannot be sure of that.
#pragma once

#include "search/xml_locator.h"

namespace norrow::search {

// The texts of one hit: the content of each element, or {nullptr, 0} where
// the reading found no such element.
struct HitTexts {
    XmlRange name, coordinates, yomi, address;
};

// What a reading finds besides the hits. Total and status are {nullptr, 0}
// where absent (no ResultInfo, or none of them in it).
struct PageTexts {
    bool ydf = false;  // the answer has a YDF element; nothing else counts without one
    XmlRange total{}, status{};
};

// Takes the hits of a walk, in document order.
class HitSink {
public:
    virtual void Take(const HitTexts& hit) = 0;

protected:
    ~HitSink() = default;
};

enum class WalkVerdict { kSure, kUnsure };

// A walk with the hits it found held, up to kHeld of them: for a reading that
// may append hits only once the walk is over, and for the test for a YDF
// element that comes before the reading.
struct WalkedPage {
    static constexpr int kHeld = 32;
    WalkVerdict verdict = WalkVerdict::kUnsure;
    PageTexts page;
    int hits = 0;  // all the hits the walk found; those beyond kHeld are not held
    HitTexts held[kHeld];
};

// Walks `answer` once. kSure: `page`, and the hits handed to `hits`, are what
// the plain reading finds (its hits as they are when its status check lets
// it read them). kUnsure: the answer holds something the walk does not follow
// (page_walk.cpp lists what); whatever it set or handed over means nothing.
// Reads nothing outside the answer, allocates nothing, and takes time linear
// in the answer's length.
WalkVerdict WalkPage(XmlRange answer, PageTexts& page, HitSink& hits);
// The same, into `walked`.
void WalkPage(XmlRange answer, WalkedPage& walked);

}  // namespace norrow::search
