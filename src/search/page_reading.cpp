// The plain reading, driven by the table of page_fields.h, and the one
// decision between it and the walk (page_reading.h).
#include "search/page_reading.h"

namespace norrow::search {
namespace {

// The content of the first element `name` in `parent`, or {nullptr, 0}.
XmlRange Content(XmlRange parent, std::string_view name) {
    XmlRange content{}, rest{};
    if (FindXmlElement(parent, name.data(), content, rest) == 1) return content;
    return {};
}

// Fills `texts` from the rows under `group`, given the content of its
// element: each text from the first element of its name, each group below
// from its first element.
void FillPlainly(XmlRange content, Group group, Texts& texts) {
    for (const PageElement& element : kPageElements) {
        if (element.parent != group) continue;
        const XmlRange found = Content(content, element.name);
        if (element.fills != kTextCount) {
            texts[element.fills] = found;
        } else {
            FillPlainly(found, element.opens, texts);
        }
    }
}

}  // namespace

// The one decision between the two readings.
void PageReading::Read(XmlRange answer, PageStrategy strategy) {
    answer_ = answer;
    plainly_ = true;
    if (strategy == PageStrategy::kWalk) {
        WalkPage(answer, walked_);
        plainly_ = walked_.verdict == WalkVerdict::kUnsure;
    }
    if (!plainly_) {
        page_ = walked_.page;
        return;
    }
    // The plain reading: the root in the whole answer, the result info in it.
    page_ = PageTexts{};
    XmlRange rest{};
    page_.ydf = FindXmlElement(answer, kRootName, root_, rest) == 1;
    if (page_.ydf) {
        FillPlainly(Content(root_, RowOpening(kInfoGroup)->name), kInfoGroup, page_.info);
    }
}

void PageReading::HandHits(HitSink& hits) const {
    if (!page_.ydf) return;
    if (plainly_) {
        // Every element of the hit group in the root, each sought in the rest
        // behind the one before.
        const char* name = RowOpening(kHitGroup)->name.data();
        XmlRange hit{}, rest{};
        for (XmlRange at = root_; FindXmlElement(at, name, hit, rest) == 1; at = rest) {
            Texts texts{};
            FillPlainly(hit, kHitGroup, texts);
            hits.Take(texts);
        }
    } else if (walked_.hits <= WalkedPage::kHeld) {
        for (int i = 0; i < walked_.hits; ++i) hits.Take(walked_.held[i]);
    } else {
        PageTexts page;
        WalkPage(answer_, page, hits);  // sure again: the same bytes
    }
}

}  // namespace norrow::search
