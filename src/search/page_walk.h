// Reads a YDF answer in one pass: the elements of the table in
// page_fields.h, found exactly where the plain reading (FindXmlElement,
// element by element) finds them, or the verdict that the walk cannot be sure
// of that. Which reading a page takes is decided in page_reading.h.
#pragma once

#include "search/page_fields.h"
#include "search/xml_locator.h"

namespace norrow::search {

enum class WalkVerdict { kSure, kUnsure };

// A walk with the hits it found held: for a reading that may append hits only
// once the walk is over (the status may come after them), and for the test
// for a YDF element that comes before the reading.
struct WalkedPage {
    // The hits held, on the stack of the page: the service sends 10 a page,
    // and a page with more is walked a second time to hand them over, which
    // costs about half as much again per byte (BENCHMARKS.md). Holding every
    // hit would take memory in proportion to the answer, and the walk
    // allocates nothing.
    static constexpr int kHeld = 32;
    WalkVerdict verdict = WalkVerdict::kUnsure;
    PageTexts page;
    int hits = 0;  // all the hits the walk found; those beyond kHeld are not held
    Texts held[kHeld];
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
