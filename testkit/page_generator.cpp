#include "testkit/page_generator.h"

#include <iterator>

namespace norrow::testkit {
namespace {

enum Level { kYdf, kResultInfo, kFeature, kGeometry, kProperty, kStation, kText };

struct Child {
    const char* name;
    Level level;
};

// What each element may hold; the first children are the likeliest.
const Child kYdfChildren[] = {
    {"Feature", kFeature}, {"ResultInfo", kResultInfo}, {"Feature", kFeature}, {"Skip", kStation}};
const Child kResultInfoChildren[] = {{"Total", kText}, {"Status", kText}, {"Count", kText}};
const Child kFeatureChildren[] = {{"Name", kText}, {"Geometry", kGeometry}, {"Property", kProperty},
                                  {"Id", kText},   {"Gid", kText},          {"Station", kStation}};
const Child kGeometryChildren[] = {{"Coordinates", kText}, {"Type", kText}, {"BoundingBox", kText}};
const Child kPropertyChildren[] = {
    {"Yomi", kText}, {"Address", kText}, {"Station", kStation}, {"Uid", kText}};
const Child kStationChildren[] = {{"Name", kText}, {"Geometry", kGeometry}, {"Id", kText}};
const Child kTextChildren[] = {{"b", kText}, {"Name", kText}, {"Yomi", kText}};

struct Children {
    const Child* first;
    size_t count;
};
template <size_t N>
constexpr Children Of(const Child (&children)[N]) {
    return {children, N};
}
// By level, up to kStation.
const Children kChildren[] = {Of(kYdfChildren),      Of(kResultInfoChildren), Of(kFeatureChildren),
                              Of(kGeometryChildren), Of(kPropertyChildren),   Of(kStationChildren)};

const std::string kTexts[] = {
    "139.5,35.25",
    "1,2,3",
    " -0.5 , 7e1",
    "abc",
    "",
    "200",
    "404",
    "500",
    "25",
    "\x95\x78\x8E\x6D\x8E\x52",  // 富士山
    "AT&amp;T",
    "x>y",
    "-",
    std::string("a\0b", 3),
    "\x83\x41\x83\x61",  // a double-byte letter in two cases
    std::string(1023, 'n'),
    std::string(1024, 'n'),
    "\n",
    "]]>",
    "\x81",
};

// Pieces no service sends.
const char* const kFlaws[] = {
    "<!-- c -->",   "<!--c-->",   "<![CDATA[</Name>]]>",
    "<?pi?>",       "</Stray>",   "<b x=\"-\">",
    "<b/>",         "<Name/>",    "<Name />",
    "<Feature/>",   "< >",        "<>",
    "<a/b>",        "<",          ">",
    "<Name x='<'>", "</YDF>",     "<YDF>",
    "<Feature>",    "</Feature>", "</Name>",
    "<Name>",       "<Geometry>", "</Property>",
    "</",           "<a?>",       "<a-b>",
    "<a x='1'>",    "<Ydf/>",     "</resultinfo>",
};

class Generator {
public:
    Generator(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    std::string Answer() {
        flawOdds_ = kFlawOdds[Take(std::size(kFlawOdds))];
        if (Flaw()) {
            out_ += Take(2) == 0 ? "<!-- a comment -->" : "<!DOCTYPE ydf>";
        } else if (Take(4) != 3) {
            out_ += "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n";
        }
        Element("YDF", kYdf, 0);
        out_ += '\n';
        if (Flaw()) out_.resize((Take(256) << 8 | Take(256)) % out_.size());
        return std::move(out_);
    }

private:
    // One answer in how many has no flaw at all; of the others, one choice in
    // how many is a flaw.
    static constexpr unsigned kFlawOdds[] = {0, 0, 0, 64, 16, 4};

    // The next byte, or 0 once they are used up: 0 always chooses the
    // plainest way on, so that every answer ends.
    unsigned Take(unsigned range) { return (at_ < size_ ? data_[at_++] : 0) % range; }

    bool Flaw() { return flawOdds_ != 0 && Take(flawOdds_) == flawOdds_ - 1; }

    template <size_t N>
    const Child& Pick(const Child (&children)[N]) {
        return children[Take(N)];
    }

    void Name(const char* name) {
        const unsigned form = Take(8);
        for (const char* c = name; *c != '\0'; ++c) {
            const bool upper = *c >= 'A' && *c <= 'Z';
            const bool lower = *c >= 'a' && *c <= 'z';
            out_ += form == 1 && upper   ? static_cast<char>(*c + 32)
                    : form == 2 && lower ? static_cast<char>(*c - 32)
                                         : *c;
        }
    }

    void Element(const char* name, Level level, int depth) {
        out_ += '<';
        Name(name);
        if (Take(8) == 7) out_ += " a=\"1\"";
        if (Flaw()) out_ += " a=\"x-\"";  // passed over at the top level, as a comment would be
        out_ += '>';
        Content(level, depth);
        if (!Flaw()) {
            out_ += "</";
            Name(name);
            out_ += '>';
            return;
        }
        switch (Take(3)) {
            case 0:
                break;  // never closed
            case 1:
                out_ += "</";
                out_ += name;
                out_ += " >";
                break;
            default:
                out_ += "</Other>";
                break;
        }
    }

    void Content(Level level, int depth) {
        for (int i = 0; i < 24 && Take(4) != 0 && out_.size() < 65536; ++i) {
            if (Flaw()) {
                if (Take(2) == 0) {
                    out_ += kFlaws[Take(std::size(kFlaws))];
                } else {
                    const Child& child = Pick(kTextChildren);  // often named like its parent
                    Element(child.name, child.level, depth + 1);
                }
            } else if (level == kText || Take(4) == 3 || depth >= 8) {
                out_ += kTexts[Take(std::size(kTexts))];
            } else {
                const Child& child = ChildOf(level);
                Element(child.name, child.level, depth + 1);
            }
        }
    }

    // A child for an element at `level` (not kText).
    const Child& ChildOf(Level level) {
        const Children& children = kChildren[level];
        return children.first[Take(static_cast<unsigned>(children.count))];
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    unsigned flawOdds_ = 0;
    std::string out_;
};

}  // namespace

std::string GeneratedAnswer(const uint8_t* data, size_t size) {
    return Generator(data, size).Answer();
}

}  // namespace norrow::testkit
