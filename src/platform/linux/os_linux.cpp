// The Linux side of the platform layer: the system clock, message boxes shown
// by the desktop of the process (desktop.h), and Windows code page 932 over glibc's
// iconv, corrected to give the bytes that Windows gives. Development only:
// see README.md in this folder.
#include "platform/os.h"

#if NORROW_OS_LINUX

#include <iconv.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "platform/linux/counted_output.h"
#include "platform/linux/desktop.h"
#include "platform/linux/utf8.h"
#include "platform/platform.h"
#include "platform/text.h"

// A program without a desktop of its own (a fuzz target) still links.
#pragma weak Desktop_MessageBox

namespace norrow::platform {
namespace {

constexpr char16_t kUnassignedPair = 0x30FB;  // what Windows makes of an unknown pair
constexpr uint16_t kQuestionMark = 0x3F;

// Where Windows' table for UTF-16 -> 932 differs from glibc's (beyond
// "unmappable becomes ?"): best-fit replacements, and five characters that
// glibc maps and Windows does not. A value above 0xFF is a byte pair.
struct Fixup {
    char16_t unit;
    uint16_t bytes;
};
constexpr Fixup kWindowsFixups[] = {
    {0x0080, 0x80},   {0x00A1, 0x21},   {0x00A6, 0x7C},   {0x00A9, 0x63},   {0x00AA, 0x61},
    {0x00AB, 0x81E1}, {0x00AD, 0x2D},   {0x00AE, 0x52},   {0x00AF, 0x8150}, {0x00B2, 0x32},
    {0x00B3, 0x33},   {0x00B5, 0x83CA}, {0x00B7, 0x8145}, {0x00B8, 0x8143}, {0x00B9, 0x31},
    {0x00BA, 0x6F},   {0x00BB, 0x81E2}, {0x00C0, 0x41},   {0x00C1, 0x41},   {0x00C2, 0x41},
    {0x00C3, 0x41},   {0x00C4, 0x41},   {0x00C5, 0x41},   {0x00C6, 0x41},   {0x00C7, 0x43},
    {0x00C8, 0x45},   {0x00C9, 0x45},   {0x00CA, 0x45},   {0x00CB, 0x45},   {0x00CC, 0x49},
    {0x00CD, 0x49},   {0x00CE, 0x49},   {0x00CF, 0x49},   {0x00D0, 0x44},   {0x00D1, 0x4E},
    {0x00D2, 0x4F},   {0x00D3, 0x4F},   {0x00D4, 0x4F},   {0x00D5, 0x4F},   {0x00D6, 0x4F},
    {0x00D8, 0x4F},   {0x00D9, 0x55},   {0x00DA, 0x55},   {0x00DB, 0x55},   {0x00DC, 0x55},
    {0x00DD, 0x59},   {0x00DE, 0x54},   {0x00DF, 0x73},   {0x00E0, 0x61},   {0x00E1, 0x61},
    {0x00E2, 0x61},   {0x00E3, 0x61},   {0x00E4, 0x61},   {0x00E5, 0x61},   {0x00E6, 0x61},
    {0x00E7, 0x63},   {0x00E8, 0x65},   {0x00E9, 0x65},   {0x00EA, 0x65},   {0x00EB, 0x65},
    {0x00EC, 0x69},   {0x00ED, 0x69},   {0x00EE, 0x69},   {0x00EF, 0x69},   {0x00F0, 0x64},
    {0x00F1, 0x6E},   {0x00F2, 0x6F},   {0x00F3, 0x6F},   {0x00F4, 0x6F},   {0x00F5, 0x6F},
    {0x00F6, 0x6F},   {0x00F8, 0x6F},   {0x00F9, 0x75},   {0x00FA, 0x75},   {0x00FB, 0x75},
    {0x00FC, 0x75},   {0x00FD, 0x79},   {0x00FE, 0x74},   {0x00FF, 0x79},   {0x2014, 0x3F},
    {0x2016, 0x3F},   {0x203E, 0x3F},   {0x2212, 0x3F},   {0x301C, 0x3F},   {0x3094, 0x8394},
    {0xF8F0, 0xA0},   {0xF8F1, 0xFD},   {0xF8F2, 0xFE},   {0xF8F3, 0xFF},
};

// Code page 932 both ways, built once from iconv and the fixups above.
class Cp932 {
public:
    static const Cp932& Get() {
        static const std::unique_ptr<Cp932> tables(new Cp932);
        return *tables;
    }

    // Decodes the character at bytes[0] (with `available` bytes in reach);
    // sets `consumed` to 1 or 2.
    char16_t Decode(const unsigned char* bytes, int available, int& consumed) const {
        const unsigned char lead = bytes[0];
        consumed = 1;
        if (!IsLeadByte(lead)) return single_[lead];
        if (available < 2 || bytes[1] == 0) return kUnassignedPair;
        consumed = 2;
        return pairs_[PairIndex(lead, bytes[1])];
    }

    // The bytes for one UTF-16 unit: a value above 0xFF is a pair.
    uint16_t Encode(char16_t unit) const { return encode_[unit]; }

private:
    Cp932() {
        iconv_t decoder = iconv_open("UTF-16LE", "CP932");
        iconv_t encoder = iconv_open("CP932", "UTF-16LE");
        for (int byte = 0; byte < 256; ++byte) {
            const unsigned char in[1] = {static_cast<unsigned char>(byte)};
            single_[byte] = DecodeWith(decoder, in, 1, SingleByteFallback(byte));
        }
        for (int lead = 0; lead < 256; ++lead) {
            if (!IsLeadByte(lead)) continue;
            for (int trail = 1; trail < 256; ++trail) {
                const unsigned char in[2] = {static_cast<unsigned char>(lead),
                                             static_cast<unsigned char>(trail)};
                pairs_[PairIndex(lead, trail)] = DecodeWith(decoder, in, 2, kUnassignedPair);
            }
        }
        for (int unit = 0; unit < 0x10000; ++unit) {
            encode_[unit] = EncodeWith(encoder, static_cast<char16_t>(unit));
        }
        for (const Fixup& fixup : kWindowsFixups) encode_[fixup.unit] = fixup.bytes;
        iconv_close(decoder);
        iconv_close(encoder);
    }

    // Bytes that are no character in 932 still decode on Windows.
    static char16_t SingleByteFallback(int byte) {
        if (byte == 0x80) return 0x0080;
        if (byte == 0xA0) return 0xF8F0;
        if (byte >= 0xFD) return static_cast<char16_t>(0xF8F1 + (byte - 0xFD));
        return kUnassignedPair;
    }

    static int PairIndex(int lead, int trail) {
        const int row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31;
        return row * 256 + trail;
    }

    static char16_t DecodeWith(iconv_t cd, const unsigned char* in, size_t length,
                               char16_t fallback) {
        char out[8];
        char* source = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
        char* target = out;
        size_t left = length;
        size_t room = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &source, &left, &target, &room) == static_cast<size_t>(-1) ||
            target - out != 2) {
            return fallback;
        }
        return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                     (static_cast<unsigned char>(out[1]) << 8));
    }

    static uint16_t EncodeWith(iconv_t cd, char16_t unit) {
        if (unit >= 0xD800 && unit <= 0xDFFF) return kQuestionMark;  // one per surrogate
        char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        char out[8];
        char* source = in;
        char* target = out;
        size_t left = 2;
        size_t room = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &source, &left, &target, &room) == static_cast<size_t>(-1)) {
            return kQuestionMark;
        }
        const auto first = static_cast<unsigned char>(out[0]);
        if (target - out == 1) return first;
        return static_cast<uint16_t>((first << 8) | static_cast<unsigned char>(out[1]));
    }

    char16_t single_[256];
    char16_t pairs_[60 * 256];
    uint16_t encode_[0x10000];
};

bool IsCp932(unsigned codePage) { return codePage == kAnsiCodePage || codePage == kOemCodePage; }

int32_t Now() { return static_cast<int32_t>(static_cast<uint32_t>(std::time(nullptr))); }

int MessageBox(const char* text, unsigned type) {
    return Desktop_MessageBox != nullptr ? Desktop_MessageBox(text, type) : kButtonOk;
}

int MultiByteToWide(unsigned codePage, const char* source, int length, char16_t* target,
                    int capacity) {
    if (source == nullptr || length <= 0 || capacity < 0) return 0;
    if (capacity == 0) target = nullptr;  // measure only
    if (codePage == kUtf8CodePage) return Utf8ToUtf16(source, length, target, capacity);
    if (!IsCp932(codePage)) return 0;
    const Cp932& cp = Cp932::Get();
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    return WithOutput(target, capacity, [&](auto& out) {
        for (int i = 0; i < length;) {
            for (const int run = i + AsciiRun(bytes + i, length - i); i < run; ++i)
                out.Put(bytes[i]);
            if (i >= length) break;
            int consumed = 1;
            out.Put(cp.Decode(bytes + i, length - i, consumed));
            i += consumed;
        }
    });
}

int WideToMultiByte(unsigned codePage, const char16_t* source, int length, char* target,
                    int capacity) {
    if (source == nullptr || length <= 0 || capacity < 0) return 0;
    if (capacity == 0) target = nullptr;  // measure only
    if (codePage == kUtf8CodePage) return Utf16ToUtf8(source, length, target, capacity);
    if (!IsCp932(codePage)) return 0;
    const Cp932& cp = Cp932::Get();
    return WithOutput(target, capacity, [&](auto& out) {
        for (int i = 0; i < length; ++i) {
            const uint16_t bytes = cp.Encode(source[i]);
            if (bytes > 0xFF) out.Put(static_cast<char>(bytes >> 8));
            out.Put(static_cast<char>(bytes & 0xFF));
        }
    });
}

}  // namespace

const SystemCalls& NativeSystem() {
    static const SystemCalls calls = {Now, MessageBox, MultiByteToWide, WideToMultiByte};
    return calls;
}

}  // namespace norrow::platform

#endif  // NORROW_OS_LINUX
