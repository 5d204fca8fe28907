#include "platform/recode.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace norrow::platform {
namespace {

// UTF-8 text longer than this is converted a piece at a time, so that the
// whole text never exists as UTF-16 at once.
constexpr size_t kChunkBytes = 64 * 1024;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where the UTF-8 piece that starts at `start` should end: about kChunkBytes
// on, moved back to the start of a character (at most three bytes: a longer
// run of continuation bytes holds no character to cut).
size_t PieceEnd(std::string_view text, size_t start) {
    size_t end = std::min(text.size(), start + kChunkBytes);
    for (int back = 0;
         back < 3 && end < text.size() && end > start + 1 && IsContinuation(text[end]); ++back) {
        --end;
    }
    return end;
}

// Converts `source` whole. The UTF-16 buffer has a unit for every source byte,
// which is always enough (no code page makes more than one unit of a byte),
// so the text is decoded once, without a measuring pass.
bool RecodeWhole(const SystemCalls& os, unsigned from, unsigned to, std::string_view source,
                 std::string& target) {
    const int length = static_cast<int>(source.size());
    const std::unique_ptr<char16_t[]> wide(new char16_t[source.size()]);
    const int units = os.multiByteToWide(from, source.data(), length, wide.get(), length);
    if (units <= 0) return false;
    const int bytes = os.wideToMultiByte(to, wide.get(), units, nullptr, 0);
    if (bytes <= 0) return false;
    const size_t before = target.size();
    target.resize(before + static_cast<size_t>(bytes));
    if (os.wideToMultiByte(to, wide.get(), units, target.data() + before, bytes) == 0) {
        target.resize(before);
        return false;
    }
    return true;
}

// Converts long UTF-8 text a piece at a time. Gives what RecodeWhole gives,
// since no piece ends inside a character.
bool RecodeUtf8InPieces(const SystemCalls& os, unsigned to, std::string_view source,
                        std::string& target) {
    const int room = static_cast<int>(kChunkBytes);
    return AppendWideInPieces(
        os, to, source.size(), kChunkBytes,
        [&](size_t start, char16_t* wide) {
            const size_t end = PieceEnd(source, start);
            return WidePiece{os.multiByteToWide(kUtf8CodePage, source.data() + start,
                                                static_cast<int>(end - start), wide, room),
                             end};
        },
        target);
}

}  // namespace

bool AppendRecoded(const SystemCalls& os, unsigned from, unsigned to, std::string_view source,
                   std::string& target) {
    if (source.empty() || source.size() > INT32_MAX) return false;
    if (from == kUtf8CodePage && source.size() > kChunkBytes) {
        return RecodeUtf8InPieces(os, to, source, target);
    }
    return RecodeWhole(os, from, to, source, target);
}

std::string ShiftJisFromUtf8(std::string_view utf8) {
    std::string out;
    AppendRecoded(NativeSystem(), kUtf8CodePage, kAnsiCodePage, utf8, out);
    return out;
}

std::string Utf8FromShiftJis(std::string_view sjis) {
    std::string out;
    AppendRecoded(NativeSystem(), kAnsiCodePage, kUtf8CodePage, sjis, out);
    return out;
}

}  // namespace norrow::platform
