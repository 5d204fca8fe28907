#include "search/answer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/platform.h"
#include "platform/recode.h"
#include "search/query_encoding.h"

namespace norrow::search {
namespace {

void ShowStop(const char* text) { platform::System().messageBox(text, platform::kBoxStop); }

bool HasElement(XmlRange range, const char* name) {
    XmlRange content{}, rest{};
    return FindXmlElement(range, name, content, rest) == 1;
}

// Whether the answer has a YDF element, as FindXmlElement says: the page's
// reading, which the page then takes over.
bool HasYdf(Answer& answer) { return answer.Reading().Page().ydf; }

// The answer as text: up to its first NUL, and never beyond its length.
std::string_view AsText(XmlRange bytes) {
    const void* nul = std::memchr(bytes.start, '\0', static_cast<size_t>(bytes.length));
    const size_t length = nul != nullptr ? static_cast<const char*>(nul) - bytes.start
                                         : static_cast<size_t>(bytes.length);
    return {bytes.start, length};
}

// Whether the XML declaration names UTF-8: "UTF-8" (or, only where that occurs
// nowhere, "utf-8") stands before the first "?>".
bool DeclaresUtf8(std::string_view text) {
    const size_t declarationEnd = text.find("?>");
    if (declarationEnd == std::string_view::npos) return false;
    size_t name = text.find("UTF-8");
    if (name == std::string_view::npos) name = text.find("utf-8");
    return name != std::string_view::npos && name < declarationEnd;
}

// Converts big-endian UTF-16 to the OEM code page; empty when nothing
// results. The units are swapped into a buffer one piece at a time; a piece
// never ends between the two halves of a surrogate pair.
platform::AnsiString FromUtf16BigEndian(XmlRange bytes) {
    constexpr int kPieceUnits = 32 * 1024;
    const int units = bytes.length / 2;  // a trailing odd byte is left alone
    if (units <= 0) return {};
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.start);
    auto piece = [&](size_t first, char16_t* wide) {
        int count = std::min(kPieceUnits, units - static_cast<int>(first));
        const unsigned char* pair = raw + 2 * first;
        for (int i = 0; i < count; ++i, pair += 2) {
            wide[i] = static_cast<char16_t>((pair[0] << 8) | pair[1]);
        }
        if (static_cast<int>(first) + count < units && count > 1 && wide[count - 1] >= 0xD800 &&
            wide[count - 1] <= 0xDBFF) {
            --count;  // the pair's low half is in the next piece
        }
        return platform::WidePiece{count, first + static_cast<size_t>(count)};
    };
    platform::AnsiString converted;
    platform::AppendWideInPieces(
        platform::System(), platform::kOemCodePage, static_cast<size_t>(units),
        static_cast<size_t>(std::min(units, kPieceUnits)), piece, converted);
    return converted;
}

}  // namespace

void Answer::TakeHostBuffer(char* bytes, int32_t length) {
    host_.Reset(bytes);
    data_ = bytes != nullptr && length > 0 ? bytes : "";
    length_ = bytes != nullptr && length > 0 ? length : 0;
    read_ = false;
}

void Answer::Replace(platform::AnsiString converted) {
    converted_ = std::move(converted);
    host_.Reset();
    data_ = converted_.c_str();
    length_ = static_cast<int32_t>(converted_.size());
    read_ = false;
}

const PageReading& Answer::Reading() {
    if (!read_) {
        reading_.Read(Bytes(), strategy_);
        read_ = true;
    }
    return reading_;
}

bool BringIntoAnsiCodePage(const Service& service, Answer& answer) {
    try {
        const std::string_view text = AsText(answer.Bytes());
        if (DeclaresUtf8(text)) {
            platform::AnsiString converted;
            if (!Utf8ToAnsi(text, converted)) {
                ShowStop(service.conversionBox);
                return false;
            }
            answer.Replace(std::move(converted));
        }
        if (HasYdf(answer)) return true;

        platform::AnsiString converted = FromUtf16BigEndian(answer.Bytes());
        if (converted.empty()) {
            ShowStop(service.conversionBox);
            return false;
        }
        answer.Replace(std::move(converted));
        if (!HasElement(answer.Bytes(), "xml")) {
            ShowStop(service.outputBox);
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        ShowStop(service.memoryBox);
        return false;
    }
}

}  // namespace norrow::search
