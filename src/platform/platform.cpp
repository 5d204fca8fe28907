#include "platform/platform.h"

namespace norrow::platform {

int32_t SecondsFromFileTime(uint64_t fileTime) {
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;
    const uint64_t seconds = fileTime / kTicksPerSecond - kSecondsFrom1601To1970;  // modulo 2^64
    return static_cast<int32_t>(static_cast<uint32_t>(seconds));
}

SystemCalls& System() {
    static SystemCalls calls = NativeSystem();
    return calls;
}

}  // namespace norrow::platform
