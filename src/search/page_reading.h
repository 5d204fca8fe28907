// How a page is read from an answer already in the ANSI code page, and the
// one place that decides between the two readings: the walk (page_walk.h),
// whose word stands wherever it is sure, or the plain reading, element by
// element with FindXmlElement, which takes over where the walk is unsure.
// Both follow the table of page_fields.h.
#pragma once

#include "search/page_fields.h"
#include "search/page_walk.h"
#include "search/xml_locator.h"

namespace norrow::search {

// kWalk: the walk, and the plain reading where it is unsure (what the
// plug-in does). kPlain: the plain reading only, to hold the walk to it and
// to measure the two.
enum class PageStrategy { kWalk, kPlain };

// The page of one answer: whether it has a root element, the result info's
// texts, and the hits' texts in document order.
class PageReading {
public:
    // Reads `answer` by `strategy`; the answer must stay as it is while this
    // reading is used.
    void Read(XmlRange answer, PageStrategy strategy);

    const PageTexts& Page() const { return page_; }
    // Hands the hits to `hits`, in document order.
    void HandHits(HitSink& hits) const;

private:
    XmlRange answer_{};
    bool plainly_ = true;
    XmlRange root_{};  // the root's content, where plainly_
    PageTexts page_;
    WalkedPage walked_;  // where !plainly_
};

}  // namespace norrow::search
