#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace norrow::platform {
namespace {

unsigned char FoldAscii(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

}  // namespace

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (IsLeadByte(x) && i + 1 < a.size()) {
            if (x != y || a[i + 1] != b[i + 1]) return false;
            ++i;  // the second byte was compared as it stands
        } else if (FoldAscii(x) != FoldAscii(y)) {
            return false;
        }
    }
    return true;
}

int32_t GrowthStep(int32_t growBy, int32_t size) {
    if (growBy > 0) return growBy;
    return std::clamp<int32_t>(size / 8, 4, 1024);
}

void StringList::RemoveAll() {
    items_.clear();
    items_.shrink_to_fit();
}

std::unique_ptr<char[]> StringList::Copy(const char* text) {
    const size_t length = std::strlen(text);
    std::unique_ptr<char[]> copy(new char[length + 1]);
    std::memcpy(copy.get(), text, length + 1);
    return copy;
}

void StringList::ReserveOneMore() {
    if (items_.size() < items_.capacity()) return;
    items_.reserve(items_.size() + static_cast<size_t>(GrowthStep(growBy_, size())));
}

void StringList::Adopt(std::unique_ptr<char[]> text) noexcept { items_.push_back(std::move(text)); }

}  // namespace norrow::platform
