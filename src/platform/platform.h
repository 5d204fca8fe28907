// The plug-in's view of the operating system: a clock, a modal message box and
// code-page conversion. Every call goes through one table, so that tests can
// replace an entry (a fake clock, a captured message box, a failing
// conversion) and still run the code that ships.
#pragma once

#include <cstdint>

namespace norrow::platform {

// Code pages, with the numbers Windows gives them.
constexpr unsigned kAnsiCodePage = 0;  // CP_ACP: Shift-JIS on the systems we serve
constexpr unsigned kOemCodePage = 1;   // CP_OEMCP: likewise Shift-JIS
constexpr unsigned kUtf8CodePage = 65001;

// Message-box types and the button id of OK.
constexpr unsigned kBoxStop = 16;         // MB_OK | MB_ICONSTOP
constexpr unsigned kBoxInformation = 64;  // MB_OK | MB_ICONINFORMATION
constexpr int kButtonOk = 1;

struct SystemCalls {
    // Seconds since the epoch, wrapped into 32 bits.
    int32_t (*now)();
    // Shows `text` (ANSI code page) modally; returns the id of the button pressed.
    int (*messageBox)(const char* text, unsigned type);
    // MultiByteToWideChar with no flags: converts `length` bytes of `codePage`
    // (length > 0) into at most `capacity` UTF-16 units. With capacity 0 only
    // measures. Returns the number of units, 0 on failure.
    int (*multiByteToWide)(unsigned codePage, const char* source, int length, char16_t* target,
                           int capacity);
    // WideCharToMultiByte with no flags and no default character: the reverse.
    int (*wideToMultiByte)(unsigned codePage, const char16_t* source, int length, char* target,
                           int capacity);
};

// Seconds since 1970-01-01 UTC wrapped into 32 bits, as `now` gives them,
// from a Windows file time (100-nanosecond intervals since 1601-01-01 UTC).
// Any file time converts; nothing overflows past 2038 or 2106.
int32_t SecondsFromFileTime(uint64_t fileTime);

// The table in use. Starts as NativeSystem(); tests may change entries.
SystemCalls& System();

// The operating system's own entries (linux/os_linux.cpp or os_win.cpp).
const SystemCalls& NativeSystem();

}  // namespace norrow::platform
