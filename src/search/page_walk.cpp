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
// What the walk does. It reads the YDF content once, keeping the elements
// open around the current byte: YDF, a child of YDF, a child of ResultInfo or
// Feature, a child of Geometry or Property (at most four; deeper elements are
// only passed through). Where the innermost open element is one whose
// children the page reads, the walk stands where that element's level scan
// stands. It relies on these rules, each of which follows from the locator's:
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
//     ResultInfo) have closed.
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
#include <cstring>
#include <string_view>

#include "platform/text.h"
#include "search/xml_bytes.h"

namespace norrow::search {
namespace {

using std::string_view;

// Bytes that end a name inside the YDF content, and "<", which a name must
// not hold (rule 1): for start tags the top-level set (which ends the name
// where both scans agree, rule 5), for end tags the content set.
struct WalkNameEnds {
    bool start[256] = {};
    bool end[256] = {};
    constexpr WalkNameEnds() {
        for (int c = 0; c < 256; ++c) {
            start[c] = bytes::kNameEnds.topLevel[c];
            end[c] = bytes::kNameEnds.content[c];
        }
        start[static_cast<unsigned char>('<')] = end[static_cast<unsigned char>('<')] = true;
    }
};
constexpr WalkNameEnds kWalkNameEnds;

// The first byte in [from, end) that `ends` a name, or null. Every such byte
// lies below 0x3F, so a word at a time is passed over up to the first byte
// below 0x3F, and the bytes from there are looked at one by one. (In the
// walk, where most tags are read once, this pays; in the locator, which
// reads the same names again and again, the plain loop does better.)
inline const char* NameEnd(const char* from, const char* end, const bool (&ends)[256]) {
    constexpr std::ptrdiff_t kWord = sizeof(bytes::Word);
    const char* p = from;
    for (; end - p >= kWord; p += kWord) {
        const bytes::Word low = bytes::BytesBelow(bytes::LoadWord(p), 0x3F);
        if (low != 0) {
            p += bytes::LowestByte(low);  // the lowest byte marked is always below 0x3F
            break;
        }
    }
    return bytes::NameEnd(p, end, ends);
}

// Whether `name` is `lower` (lower-case ASCII letters) in any letter case
// (rule 8).
inline bool IsNamed(string_view name, string_view lower) {
    if (name.size() != lower.size()) return false;
    for (size_t i = 0; i < lower.size(); ++i) {
        if ((name[i] | 0x20) != lower[i]) return false;
    }
    return true;
}

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

// The roles of the elements the walk keeps open.
enum Role : uint8_t {
    kYdf,
    kResultInfo,
    kFeature,
    kGeometry,
    kProperty,  // the roles above have children that the page reads
    kTotal,
    kStatus,
    kName,
    kCoordinates,
    kYomi,
    kAddress,
    kSkipped,
};

struct Frame {
    string_view name;     // as the start tag spells it
    const char* content;  // behind the start tag's ">"
    Role role;
    uint16_t opened;   // the sought names met at its level so far, one bit per role (rule 4)
    uint32_t lengths;  // LengthBit of its name and of every name around it
};

// One bit for names of `length` bytes (lengths 32 apart share one).
constexpr uint32_t LengthBit(size_t length) { return 1u << (length & 31); }

// Whether `a` and `b`, two names inside an answer that ends at `end`, hold
// the same bytes: a word at a time, the last word read past the names where
// the answer goes on that far, with only the bytes of the names compared
// (little-endian).
inline bool SameBytes(string_view a, string_view b, const char* end) {
    constexpr size_t kWord = sizeof(bytes::Word);
    const size_t n = a.size();
    if (b.size() != n) return false;
    size_t i = 0;
    for (; n - i >= kWord; i += kWord) {
        if (bytes::LoadWord(a.data() + i) != bytes::LoadWord(b.data() + i)) return false;
    }
    if (i == n) return true;
    const auto room = static_cast<std::ptrdiff_t>(kWord);
    if (end - (a.data() + i) >= room && end - (b.data() + i) >= room) {
        const bytes::Word differ = bytes::LoadWord(a.data() + i) ^ bytes::LoadWord(b.data() + i);
        return differ << (8 * (kWord - (n - i))) == 0;
    }
    for (; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// The children that the page reads, by the role of their parent.
struct SoughtChild {
    string_view name;  // lower case; an empty name is never a tag's
    Role role;
};
struct SoughtChildren {
    SoughtChild children[3];
    uint32_t lengths;  // LengthBit of each name
    constexpr SoughtChildren(SoughtChild a, SoughtChild b = {}, SoughtChild c = {})
        : children{a, b, c},
          lengths(LengthBit(a.name.size()) | LengthBit(b.name.size()) | LengthBit(c.name.size())) {}
};
constexpr SoughtChildren kSoughtChildren[kProperty + 1] = {
    /* kYdf */ {{"feature", kFeature}, {"resultinfo", kResultInfo}},
    /* kResultInfo */ {{"total", kTotal}, {"status", kStatus}},
    /* kFeature */ {{"name", kName}, {"geometry", kGeometry}, {"property", kProperty}},
    /* kGeometry */ {{"coordinates", kCoordinates}},
    /* kProperty */ {{"yomi", kYomi}, {"address", kAddress}},
};

class Walker {
public:
    Walker(XmlRange answer, PageTexts& page, HitSink& hits)
        : start_(answer.start), end_(answer.start + answer.length), page_(page), hits_(hits) {}

    WalkVerdict Run() {
        page_ = PageTexts{};
        if (start_ == nullptr || end_ <= start_) return WalkVerdict::kSure;  // no YDF
        const char* j = nullptr;
        const WalkVerdict opened = OpenYdf(j);
        if (opened == WalkVerdict::kUnsure || depth_ == 0) return opened;
        for (;;) {
            j = bytes::Find(j, end_, '<');
            if (j == nullptr) return NoYdf();
            if (const char* t = InnermostEndTag(j)) {
                Close(depth_ - 1, j);
                if (depth_ == 0) return WalkVerdict::kSure;
                j = t + 1;
                continue;
            }
            const Tag tag = ReadTag(j);
            switch (tag.kind) {
                case Tag::kRunsOut:
                    return NoYdf();
                case Tag::kUnsure:
                    return WalkVerdict::kUnsure;
                case Tag::kEnd: {
                    const int open = FrameNamed(tag.name);
                    if (open >= 0) {
                        Close(open, j);
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
            j = tag.next;
        }
    }

private:
    // The whole answer's top-level scan for YDF, as the locator runs it, up
    // to YDF's start tag (rule 7); sets `content` behind it. Leaves depth_ 0
    // when there is no YDF.
    WalkVerdict OpenYdf(const char*& content) {
        const char* p = start_;
        for (;;) {
            p = bytes::Find(p, end_, '<');
            if (p == nullptr || p == end_ - 1) return NoYdf();
            if (bytes::StartsWith(p + 1, end_, "![CDATA[")) return WalkVerdict::kUnsure;
            const char* nameEnd = bytes::NameEnd(p + 1, end_, bytes::kNameEnds.topLevel);
            if (nameEnd == nullptr) return NoYdf();
            const char* k = bytes::Find(nameEnd, end_, '>');
            if (k == nullptr) return NoYdf();
            const string_view name(p + 1, static_cast<size_t>(nameEnd - (p + 1)));
            const bool passedOver = k[-1] == '/' || k[-1] == '?' ||
                                    (k[-1] == '-' && name == "!--") ||
                                    (k - 2 >= start_ && k[-2] == '-');
            if (passedOver) {
                p = k + 1;
                continue;
            }
            if (!platform::EqualIgnoringCase(name, "YDF")) return WalkVerdict::kUnsure;
            if (k + 1 >= end_) return NoYdf();
            frames_[0] = {name, k + 1, kYdf, 0, LengthBit(name.size())};
            depth_ = 1;
            content = k + 1;
            return WalkVerdict::kSure;
        }
    }

    WalkVerdict NoYdf() {
        page_ = PageTexts{};
        depth_ = 0;
        return WalkVerdict::kSure;
    }

    // Reads the tag at `j`, a "<" inside the YDF content.
    Tag ReadTag(const char* j) const {
        if (end_ - j < 2) return {Tag::kRunsOut, {}};  // the last byte starts no tag
        if (j[1] == '!' || j[1] == '?') return {Tag::kUnsure, {}};
        if (j[1] == '/') {
            const char* t = NameEnd(j + 2, end_, kWalkNameEnds.end);
            if (t == nullptr) return {Tag::kRunsOut, {}};
            if (*t == '<') return {Tag::kUnsure, {}};
            return {Tag::kEnd, Span(j + 2, t), t + 1};
        }
        const char* t = NameEnd(j + 1, end_, kWalkNameEnds.start);
        if (t == nullptr) return {Tag::kRunsOut, {}};
        if (t == j + 1 || *t == '<') return {Tag::kUnsure, {}};
        const string_view name = Span(j + 1, t);
        if (*t == '/') {  // "<a/>": the content scans read the name "a/" (rule 5)
            if (end_ - t < 2) return {Tag::kRunsOut, {}};
            if (t[1] != '>') return {Tag::kUnsure, {}};
            return {Tag::kPassedOver, Span(j + 1, t + 1), t + 2};
        }
        const char* k = t;  // the tag's ">"
        if (*t != '>') {    // white space, then attributes
            k = bytes::Find(t + 1, end_, '>');
            const char* attributesEnd = k != nullptr ? k : end_;
            if (bytes::Find(t + 1, attributesEnd, '<') != nullptr) return {Tag::kUnsure, {}};
            if (k == nullptr) return {Tag::kRunsOut, {}};
        }
        const bool passedOver = k[-1] == '/' || k[-1] == '?' || k[-2] == '-';
        return {passedOver ? Tag::kPassedOver : Tag::kStart, name, k + 1};
    }

    // The byte that ends the name of the tag at `j` when that tag is the end
    // tag of the innermost open element, spelled as its start tag was: the
    // common case, read without a scan. Null otherwise, and then ReadTag
    // reads the tag.
    const char* InnermostEndTag(const char* j) const {
        if (end_ - j < 2 || j[1] != '/') return nullptr;
        const string_view open = frames_[depth_ - 1].name;
        if (end_ - (j + 2) <= static_cast<std::ptrdiff_t>(open.size())) return nullptr;
        const char* t = j + 2 + open.size();
        const bool endsName = kWalkNameEnds.end[static_cast<unsigned char>(*t)] && *t != '<';
        return endsName && SameBytes(Span(j + 2, t), open, end_) ? t : nullptr;
    }

    static string_view Span(const char* from, const char* to) {
        return {from, static_cast<size_t>(to - from)};
    }

    // Whether the walk stands where a level is scanned: inside an element
    // whose children the page reads, and inside none of those children.
    bool AtLevel() const { return frames_[depth_ - 1].role <= kProperty; }

    // The open element named `name`, innermost first, or -1 (rule 8).
    int FrameNamed(string_view name) const {
        if ((frames_[depth_ - 1].lengths & LengthBit(name.size())) == 0) return -1;
        return FrameOfLength(name);
    }
    int FrameOfLength(string_view name) const {
        for (int i = depth_ - 1; i >= 0; --i) {
            const string_view open = frames_[i].name;
            if (SameBytes(name, open, end_) ||
                (open.size() == name.size() && platform::EqualIgnoringCase(name, open))) {
                return i;
            }
        }
        return -1;
    }

    // An element opens at the level of the innermost one.
    void Open(string_view name, const char* content) {
        Frame& parent = frames_[depth_ - 1];
        const Role role = ChildRole(parent, name);
        switch (role) {
            case kResultInfo:
                total_ = status_ = {};
                break;
            case kFeature:
                hit_ = {};
                break;
            case kGeometry:
                coordinates_ = {};
                break;
            case kProperty:
                yomi_ = address_ = {};
                break;
            default:
                break;
        }
        frames_[depth_] = {name, content, role, 0, parent.lengths | LengthBit(name.size())};
        ++depth_;
    }

    // What an element named `name` is at the level of `parent` (rule 4).
    static Role ChildRole(Frame& parent, string_view name) {
        const SoughtChildren& sought = kSoughtChildren[parent.role];
        if ((sought.lengths & LengthBit(name.size())) == 0) return kSkipped;
        for (const SoughtChild& child : sought.children) {
            if (!IsNamed(name, child.name)) continue;
            if (child.role == kFeature) return kFeature;  // each one sought by a search of its own
            const auto bit = static_cast<uint16_t>(1u << child.role);
            if (parent.opened & bit) return kSkipped;  // only the first is sought
            parent.opened |= bit;
            return child.role;
        }
        return kSkipped;
    }

    // The end tag at `endTag` closes open element `index`; those inside it
    // never close (rule 3).
    void Close(int index, const char* endTag) {
        const Frame& frame = frames_[index];
        const XmlRange content{frame.content, static_cast<int32_t>(endTag - frame.content)};
        switch (frame.role) {
            case kResultInfo:
                page_.total = total_;
                page_.status = status_;
                break;
            case kTotal:
                total_ = content;
                break;
            case kStatus:
                status_ = content;
                break;
            case kFeature:
                hits_.Take(hit_);
                break;
            case kName:
                hit_.name = content;
                break;
            case kGeometry:
                hit_.coordinates = coordinates_;
                break;
            case kCoordinates:
                coordinates_ = content;
                break;
            case kProperty:
                hit_.yomi = yomi_;
                hit_.address = address_;
                break;
            case kYomi:
                yomi_ = content;
                break;
            case kAddress:
                address_ = content;
                break;
            case kYdf:
                page_.ydf = true;
                break;
            case kSkipped:
                break;
        }
        depth_ = index;
    }

    const char* const start_;
    const char* const end_;
    PageTexts& page_;
    HitSink& hits_;
    // YDF, a child of it, a grandchild, and one more below Geometry or
    // Property: an element opens only inside one whose children the page
    // reads (Open), and those lie no deeper than the third.
    Frame frames_[4] = {};
    int depth_ = 0;
    // The texts found inside the open ResultInfo, Feature, Geometry and
    // Property, handed outwards as each closes.
    XmlRange total_{}, status_{}, coordinates_{}, yomi_{}, address_{};
    HitTexts hit_{};
};

// Holds the hits of a walk in a WalkedPage.
class HeldHits final : public HitSink {
public:
    explicit HeldHits(WalkedPage& walked) : walked_(walked) { walked_.hits = 0; }
    void Take(const HitTexts& hit) override {
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
