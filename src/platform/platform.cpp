#include "platform/platform.h"

namespace norrow::platform {

SystemCalls& System() {
    static SystemCalls calls = NativeSystem();
    return calls;
}

}  // namespace norrow::platform
