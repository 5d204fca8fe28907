// Text in the ANSI code page (Shift-JIS), as the plug-in keeps all its text,
// and the growable list that owns the texts of the search results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace norrow::platform {

// The growable string of the plug-in: bytes of the ANSI code page with a
// stored length (it may hold NUL bytes).
using AnsiString = std::string;

// True for the first byte of a Shift-JIS double-byte character.
constexpr bool IsLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Whole-text comparison as the platform's case-insensitive multibyte compare
// does it in code page 932: ASCII letters match either case, a double-byte
// character is compared as a whole (its second byte is never folded), every
// other byte must be equal.
inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;  // the common answer, decided at once
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (IsLeadByte(x) && i + 1 < a.size()) {
            if (x != y || a[i + 1] != b[i + 1]) return false;
            ++i;  // the second byte was compared as it stands
        } else if (x != y && ((x | 0x20) != (y | 0x20) || (x | 0x20) < 'a' || (x | 0x20) > 'z')) {
            return false;  // equal only as the two cases of one ASCII letter
        }
    }
    return true;
}

// The growth step of the class library's arrays: `growBy`, or with growBy 0
// one eighth of the current size, at least 4 and at most 1024.
int32_t GrowthStep(int32_t growBy, int32_t size);

// A growable list of texts. Each element is a copy whose characters stay at
// the same address until the list is emptied, however the list grows.
class StringList {
public:
    int32_t size() const { return static_cast<int32_t>(items_.size()); }
    const char* operator[](int32_t index) const { return items_[index].get(); }

    void SetGrowBy(int32_t step) { growBy_ = step; }
    // Releases every text.
    void RemoveAll();

    // Adding in two steps, for callers that must add to several stores or none:
    // Copy and ReserveOneMore may throw std::bad_alloc and change nothing;
    // Adopt, after ReserveOneMore, cannot fail.
    static std::unique_ptr<char[]> Copy(const char* text);
    void ReserveOneMore();
    void Adopt(std::unique_ptr<char[]> text) noexcept;

private:
    std::vector<std::unique_ptr<char[]>> items_;
    int32_t growBy_ = 0;
};

}  // namespace norrow::platform
