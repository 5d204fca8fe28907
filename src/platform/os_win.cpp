// The Windows side of the platform layer: the system clock, MessageBoxA and
// the Win32 code-page functions.
#include "platform/os.h"

#if NORROW_OS_WINDOWS

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace norrow::platform {
namespace {

// The system clock, which does not run out in 2038 as the C runtime's
// 32-bit time may.
int32_t Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return SecondsFromFileTime((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                               now.dwLowDateTime);
}

// The caption of our boxes is the host program's name, as the host's own
// boxes have it.
const char* HostProgramName() {
    static char name[MAX_PATH] = "";
    if (name[0] == '\0') {
        char path[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return "";
        const char* base = path;
        for (const char* p = path; *p != '\0'; ++p) {
            if (*p == '\\' || *p == '/') base = p + 1;
        }
        std::memcpy(name, base, std::strlen(base) + 1);  // base lies inside path, so it fits
        if (char* dot = std::strrchr(name, '.')) *dot = '\0';
    }
    return name;
}

// The box holds the host as its own boxes do: its owner, which it disables
// while open, is the top-level window that owns the active window of this
// thread; with no active window it disables every window of the thread.
int MessageBox(const char* text, unsigned type) {
    HWND owner = GetActiveWindow();
    if (owner != nullptr) owner = GetAncestor(owner, GA_ROOTOWNER);
    if (owner == nullptr) type |= MB_TASKMODAL;
    return MessageBoxA(owner, text, HostProgramName(), type);
}

int MultiByteToWide(unsigned codePage, const char* source, int length, char16_t* target,
                    int capacity) {
    if (source == nullptr || length <= 0) return 0;
    return MultiByteToWideChar(codePage, 0, source, length, reinterpret_cast<LPWSTR>(target),
                               capacity);
}

int WideToMultiByte(unsigned codePage, const char16_t* source, int length, char* target,
                    int capacity) {
    if (source == nullptr || length <= 0) return 0;
    return WideCharToMultiByte(codePage, 0, reinterpret_cast<LPCWSTR>(source), length, target,
                               capacity, nullptr, nullptr);
}

}  // namespace

const SystemCalls& NativeSystem() {
    static const SystemCalls calls = {Now, MessageBox, MultiByteToWide, WideToMultiByte};
    return calls;
}

}  // namespace norrow::platform

#endif  // NORROW_OS_WINDOWS
