#include "platform/recode.h"

#include <cstdint>
#include <memory>

namespace norrow::platform {

bool AppendRecoded(const SystemCalls& os, unsigned from, unsigned to, std::string_view source,
                   std::string& target) {
    if (source.empty() || source.size() > INT32_MAX) return false;
    const int length = static_cast<int>(source.size());
    const int units = os.multiByteToWide(from, source.data(), length, nullptr, 0);
    if (units <= 0) return false;
    const std::unique_ptr<char16_t[]> wide(new char16_t[static_cast<size_t>(units)]);
    if (os.multiByteToWide(from, source.data(), length, wide.get(), units) == 0) return false;
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
