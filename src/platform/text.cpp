#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace norrow::platform {

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

// The handles grow by the class library's step at least, and by half their
// number when that is more: appending stays linear however many texts come.
void StringList::ReserveOneMore() {
    if (items_.size() < items_.capacity()) return;
    const size_t step =
        std::max(static_cast<size_t>(GrowthStep(growBy_, size())), items_.size() / 2);
    items_.reserve(items_.size() + step);
}

void StringList::Adopt(std::unique_ptr<char[]> text) noexcept { items_.push_back(std::move(text)); }

}  // namespace norrow::platform
