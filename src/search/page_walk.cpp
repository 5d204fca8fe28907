// The page walk: one pass over a YDF answer that finds what the plain reading
// finds with one FindXmlElement call per element.
//
// What the plain reading does. Each of its searches is a top-level scan of one
// range, a level: the whole answer for YDF; the YDF content for ResultInfo and
// for each Feature (from the rest behind the one before); the content of
// ResultInfo, Feature, Geometry and Property for their children. The scan
// skips an element of another name up to the first end tag of that name; it
// follows the element it seeks up to its end tag, counting nested start tags
// of the name it seeks.
//
// What the walk does. It reads the YDF content once, keeping open the
// elements around the current byte down to the first that is not a group of
// page_fields.h (deeper elements are only passed through). Where the
// innermost open element is a group, whose children the page reads, the walk
// stands where that element's level scan stands. It relies on these rules,
// each of which follows from the locator's:
//
//  1. Every scan reads a tag from the same "<". A tag name never holds "<"
//     and attributes hold none (else: unsure), so one scan cannot take a "<"
//     into a tag that another reads as the start of a tag. A content scan goes
//     on behind the byte that ended a tag's name, a top-level scan behind the
//     tag's ">"; with no "<" between, both find the same next tag.
//  2. A skipped element and a sought element end at the same end tag, the
//     first one of their name, as long as no start tag of that name comes
//     inside them. A start tag named like any element open around it makes
//     the walk unsure, so each element ends where every scan says it does,
//     and the open elements have names no two of which are equal.
//  3. A content ends at the "<" of its element's end tag. An element that is
//     still open there never closes inside that content: the search that met
//     it is not found, and so is every later search at its level, while what
//     was found earlier at that level stays found. So a text counts only once
//     its element and every element around it up to the Feature (or
//     ResultInfo) have closed: the texts below an element that never closes
//     are forgotten.
//  4. Only the first element of a name that a level seeks is followed as
//     sought; later ones are skipped like any other. Every Feature is sought,
//     each by its own search.
//  5. "/" ends a name at the top level but not in content: "<a/>" is passed
//     over by a top-level scan and is a start tag named "a/", which names no
//     element, in content. A start tag whose byte before ">" is "/" or "?", or
//     whose byte two before ">" is "-", is passed over at the top level and is
//     a start tag in content. Inside the YDF content the byte two before ">"
//     always lies inside the tag, since every name there has a byte.
//  6. An end tag that closes no open element is passed over in content; at
//     the top level it opens an element with an empty name (else: unsure).
//  7. The answer running out inside the YDF content (no "<", a "<" as the
//     last byte, or a tag cut short) means that YDF has no end tag: the
//     plain reading finds no YDF. The same holds for the whole answer before
//     YDF opens, which the walk scans exactly as the locator does.
//  8. Sought names are compared with an ASCII case fold, which is exact for
//     the lower-case ASCII names sought; the name of an end tag against an
//     open element's name as the locator compares them (Shift-JIS aware).
//
// The walk is unsure, and the page is read plainly, exactly where:
//  - before YDF: a CDATA section, or an element that is not YDF;
//  - inside YDF: "<!" (a comment, CDATA section or declaration) or "<?";
//  - a tag without a name, or with "<" in its name or among its attributes;
//  - a "/" right after a start tag's name that ">" does not follow;
//  - a start tag named like an element open around it (rule 2);
//  - an end tag that closes no open element where a level is scanned (rule 6).
#include "search/page_walk.h"

#include <cstdint>
#include <iterator>
#include <string_view>

#include "platform/text.h"
#include "search/xml_bytes.h"

namespace norrow::search {
namespace {

using bytes::LengthBit;
using std::string_view;

// ---- What the walk takes from the table of page_fields.h -------------------

constexpr int kRows = static_cast<int>(std::size(kPageElements));
static_assert(kRows <= 16, "Frame::met holds one bit a row");

constexpr uint32_t TextBit(Text text) { return 1u << text; }

// The most rows under one group.
constexpr int MostChildren() {
    int most = 0;
    for (int group = 0; group < kGroupCount; ++group) {
        int count = 0;
        for (const PageElement& element : kPageElements) count += element.parent == group;
        if (count > most) most = count;
    }
    return most;
}

// A row of the table under its parent. A group's places beyond its rows
// hold an empty name, which is no tag's (ReadTag).
struct Child {
    string_view name;
    Group opens = kGroupCount;
    Text fills = kTextCount;
    uint16_t bit = 0;  // the row's bit in Frame::met
};

// The table arranged for the walk: the rows under each group, the lengths of
// their names, the texts anywhere below each group, and how many elements
// are ever open at once.
struct Levels {
    Child children[kGroupCount][MostChildren()] = {};
    int childCount[kGroupCount] = {};
    uint32_t lengths[kGroupCount] = {};     // LengthBit of each name under the group
    uint32_t textsBelow[kGroupCount] = {};  // TextBit of each text below it
    int frames = 0;                         // the root, the groups inside it, and one more

    constexpr Levels() {
        Group parentOf[kGroupCount] = {};  // the root is its own
        for (int row = 0; row < kRows; ++row) {
            const PageElement& element = kPageElements[row];
            children[element.parent][childCount[element.parent]++] = {
                element.name, element.opens, element.fills, static_cast<uint16_t>(1u << row)};
            lengths[element.parent] |= LengthBit(element.name.size());
            if (element.opens != kGroupCount) parentOf[element.opens] = element.parent;
        }
        for (int group = 0; group < kGroupCount; ++group) {
            int levels = 1;
            for (int g = group; g != kYdf; g = parentOf[g]) ++levels;
            if (levels + 1 > frames) frames = levels + 1;
        }
        for (const PageElement& element : kPageElements) {
            if (element.fills == kTextCount) continue;
            for (int g = element.parent;; g = parentOf[g]) {
                textsBelow[g] |= TextBit(element.fills);
                if (g == kYdf) break;
            }
        }
    }
};
constexpr Levels kLevels;

// Whether `name` is `lower` (lower-case ASCII letters) in any letter case
// (rule 8).
inline bool IsNamed(string_view name, string_view lower) {
    if (name.size() != lower.size()) return false;
    for (size_t i = 0; i < lower.size(); ++i) {
        if ((name[i] | 0x20) != lower[i]) return false;
    }
    return true;
}

// ---- The walk ----------------------------------------------------------------

// One tag inside the YDF content, as every scan over it reads it.
struct Tag {
    enum Kind {
        kStart,       // opens an element at a level; a start tag of `name` in content
        kPassedOver,  // passed over at a level; a start tag of `name` in content
        kEnd,         // an end tag of `name`
        kRunsOut,     // the answer ends inside it (rule 7)
        kUnsure,
    } kind;
    string_view name;
    const char* next = nullptr;  // where every scan goes on (rule 1)
};

// An element open around the current byte.
struct Frame {
    string_view name;     // as the start tag spells it
    const char* content;  // behind the start tag's ">"
    Group group;          // kGroupCount: no group (a text, or an element the page skips)
    Text text;            // the text its content fills, or kTextCount
    uint16_t met;         // the rows of its group met at its level so far (rule 4)
    uint32_t lengths;     // LengthBit of its name and of every name around it
};

class Walker {
public:
    Walker(XmlRange answer, PageTexts& page, HitSink& hits)
        : start_(answer.start), end_(answer.start + answer.length), page_(page), hits_(hits) {}

    WalkVerdict Run() {
        page_ = PageTexts{};
        if (start_ == nullptr || end_ <= start_) return WalkVerdict::kSure;  // no YDF
        const char* at = nullptr;
        const WalkVerdict opened = OpenYdf(at);
        if (opened == WalkVerdict::kUnsure || depth_ == 0) return opened;
        for (;;) {
            const char* lt = bytes::Find(at, end_, '<');
            if (lt == nullptr) return NoYdf();
            if (const char* nameEnd = InnermostEndTag(lt)) {
                Close(depth_ - 1, lt);
                if (depth_ == 0) return WalkVerdict::kSure;
                at = nameEnd + 1;
                continue;
            }
            const Tag tag = ReadTag(lt);
            switch (tag.kind) {
                case Tag::kRunsOut:
                    return NoYdf();
                case Tag::kUnsure:
                    return WalkVerdict::kUnsure;
                case Tag::kEnd: {
                    const int open = FrameNamed(tag.name);
                    if (open >= 0) {
                        Close(open, lt);
                        if (depth_ == 0) return WalkVerdict::kSure;
                    } else if (AtLevel()) {
                        return WalkVerdict::kUnsure;  // rule 6
                    }
                    break;
                }
                case Tag::kStart:
                case Tag::kPassedOver:
                    if (FrameNamed(tag.name) >= 0) return WalkVerdict::kUnsure;  // rule 2
                    if (tag.kind == Tag::kStart && AtLevel()) Open(tag.name, tag.next);
                    break;
            }
            at = tag.next;
        }
    }

private:
    // The whole answer's top-level scan for YDF, as the locator runs it, up
    // to YDF's start tag (rule 7); sets `content` behind it. Leaves depth_ 0
    // when there is no YDF.
    WalkVerdict OpenYdf(const char*& content) {
        const char* at = start_;
        for (;;) {
            const char* lt = bytes::Find(at, end_, '<');
            if (lt == nullptr || lt == end_ - 1) return NoYdf();
            if (bytes::StartsWith(lt + 1, end_, "![CDATA[")) return WalkVerdict::kUnsure;
            const char* nameEnd = bytes::NameEnd(lt + 1, end_, bytes::kNameEnds.topLevel);
            if (nameEnd == nullptr) return NoYdf();
            const char* gt = bytes::Find(nameEnd, end_, '>');
            if (gt == nullptr) return NoYdf();
            const string_view name = Span(lt + 1, nameEnd);
            const bool passedOver = gt[-1] == '/' || gt[-1] == '?' ||
                                    (gt[-1] == '-' && name == "!--") ||
                                    (gt - 2 >= start_ && gt[-2] == '-');
            if (passedOver) {
                at = gt + 1;
                continue;
            }
            if (!platform::EqualIgnoringCase(name, kRootName)) return WalkVerdict::kUnsure;
            if (gt + 1 >= end_) return NoYdf();
            frames_[0] = {name, gt + 1, kYdf, kTextCount, 0, LengthBit(name.size())};
            depth_ = 1;
            content = gt + 1;
            return WalkVerdict::kSure;
        }
    }

    WalkVerdict NoYdf() {
        page_ = PageTexts{};
        depth_ = 0;
        return WalkVerdict::kSure;
    }

    // Reads the tag at `lt`, a "<" inside the YDF content.
    Tag ReadTag(const char* lt) const {
        if (end_ - lt < 2) return {Tag::kRunsOut, {}};  // the last byte starts no tag
        if (lt[1] == '!' || lt[1] == '?') return {Tag::kUnsure, {}};
        if (lt[1] == '/') {
            const char* nameEnd = bytes::NameEndByWords(lt + 2, end_, bytes::kNameEnds.contentOrTag);
            if (nameEnd == nullptr) return {Tag::kRunsOut, {}};
            if (*nameEnd == '<') return {Tag::kUnsure, {}};
            return {Tag::kEnd, Span(lt + 2, nameEnd), nameEnd + 1};
        }
        const char* nameEnd = bytes::NameEndByWords(lt + 1, end_, bytes::kNameEnds.topLevelOrTag);
        if (nameEnd == nullptr) return {Tag::kRunsOut, {}};
        if (nameEnd == lt + 1 || *nameEnd == '<') return {Tag::kUnsure, {}};
        const string_view name = Span(lt + 1, nameEnd);
        if (*nameEnd == '/') {  // "<a/>": the content scans read the name "a/" (rule 5)
            if (end_ - nameEnd < 2) return {Tag::kRunsOut, {}};
            if (nameEnd[1] != '>') return {Tag::kUnsure, {}};
            return {Tag::kPassedOver, Span(lt + 1, nameEnd + 1), nameEnd + 2};
        }
        const char* gt = nameEnd;
        if (*nameEnd != '>') {  // white space, then attributes
            gt = bytes::Find(nameEnd + 1, end_, '>');
            const char* attributesEnd = gt != nullptr ? gt : end_;
            if (bytes::Find(nameEnd + 1, attributesEnd, '<') != nullptr) return {Tag::kUnsure, {}};
            if (gt == nullptr) return {Tag::kRunsOut, {}};
        }
        const bool passedOver = gt[-1] == '/' || gt[-1] == '?' || gt[-2] == '-';
        return {passedOver ? Tag::kPassedOver : Tag::kStart, name, gt + 1};
    }

    // The byte that ends the name of the tag at `lt` when that tag is the end
    // tag of the innermost open element, spelled as its start tag was: the
    // common case, read without a scan. Null otherwise, and then ReadTag
    // reads the tag.
    const char* InnermostEndTag(const char* lt) const {
        if (end_ - lt < 2 || lt[1] != '/') return nullptr;
        return bytes::EndTagNamed(lt, end_, frames_[depth_ - 1].name, bytes::kNameEnds.content);
    }

    static string_view Span(const char* from, const char* to) {
        return {from, static_cast<size_t>(to - from)};
    }

    // Whether the walk stands where a level is scanned: inside a group, and
    // inside none of its children.
    bool AtLevel() const { return frames_[depth_ - 1].group != kGroupCount; }

    // The open element named `name`, innermost first, or -1 (rule 8).
    int FrameNamed(string_view name) const {
        if ((frames_[depth_ - 1].lengths & LengthBit(name.size())) == 0) return -1;
        for (int i = depth_ - 1; i >= 0; --i) {
            const string_view open = frames_[i].name;
            if (bytes::SameBytes(name, open, end_) ||
                (open.size() == name.size() && platform::EqualIgnoringCase(name, open))) {
                return i;
            }
        }
        return -1;
    }

    // An element opens at the level of the innermost one, a group.
    void Open(string_view name, const char* content) {
        Frame& parent = frames_[depth_ - 1];
        const uint32_t lengths = parent.lengths | LengthBit(name.size());
        const Child* sought = Sought(parent, name);
        if (sought == nullptr) {
            frames_[depth_++] = {name, content, kGroupCount, kTextCount, 0, lengths};
            return;
        }
        frames_[depth_++] = {name, content, sought->opens, sought->fills, 0, lengths};
        if (sought->opens != kGroupCount) Forget(sought->opens);
    }

    // The row that an element named `name` is at the level of `parent`, or
    // null where the page skips it (rule 4).
    static const Child* Sought(Frame& parent, string_view name) {
        const Group group = parent.group;
        if ((kLevels.lengths[group] & LengthBit(name.size())) == 0) return nullptr;
        for (const Child& child : kLevels.children[group]) {
            if (!IsNamed(name, child.name)) continue;
            if (child.opens == kHitGroup) return &child;  // each one sought by a search of its own
            if (parent.met & child.bit) return nullptr;   // only the first is sought
            parent.met |= child.bit;
            return &child;
        }
        return nullptr;
    }

    // The end tag at `endTag` closes open element `index`; those inside it
    // never close, and what was found below them is forgotten (rule 3).
    void Close(int index, const char* endTag) {
        for (int inner = depth_ - 1; inner > index; --inner) {
            if (frames_[inner].group != kGroupCount) Forget(frames_[inner].group);
        }
        depth_ = index;
        const Frame& frame = frames_[index];
        if (frame.group == kGroupCount) {
            if (frame.text != kTextCount) {
                texts_[frame.text] = {frame.content, static_cast<int32_t>(endTag - frame.content)};
            }
        } else if (frame.group == kHitGroup) {
            hits_.Take(Below(kHitGroup));
        } else if (frame.group == kInfoGroup) {
            page_.info = Below(kInfoGroup);
        } else if (frame.group == kYdf) {
            page_.ydf = true;
        }
    }

    // The texts found below `group`, the others {nullptr, 0}.
    Texts Below(Group group) const {
        Texts below{};
        for (int text = 0; text < kTextCount; ++text) {
            if (kLevels.textsBelow[group] & TextBit(Text(text))) below.of[text] = texts_.of[text];
        }
        return below;
    }

    void Forget(Group group) {
        for (int text = 0; text < kTextCount; ++text) {
            if (kLevels.textsBelow[group] & TextBit(Text(text))) texts_.of[text] = {};
        }
    }

    const char* const start_;
    const char* const end_;
    PageTexts& page_;
    HitSink& hits_;
    // An element opens only inside a group (Open), so no more than the root,
    // the groups inside it and one element more are ever open.
    Frame frames_[kLevels.frames] = {};
    int depth_ = 0;
    // The texts of the open groups, found where each text's element closed.
    Texts texts_{};
};

// Holds the hits of a walk in a WalkedPage.
class HeldHits final : public HitSink {
public:
    explicit HeldHits(WalkedPage& walked) : walked_(walked) { walked_.hits = 0; }
    void Take(const Texts& hit) override {
        if (walked_.hits < WalkedPage::kHeld) walked_.held[walked_.hits] = hit;
        ++walked_.hits;
    }

private:
    WalkedPage& walked_;
};

}  // namespace

WalkVerdict WalkPage(XmlRange answer, PageTexts& page, HitSink& hits) {
    return Walker(answer, page, hits).Run();
}

void WalkPage(XmlRange answer, WalkedPage& walked) {
    HeldHits held(walked);
    walked.verdict = WalkPage(answer, walked.page, held);
}

}  // namespace norrow::search
