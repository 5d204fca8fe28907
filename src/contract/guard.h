// Nothing the plug-in does may throw into the host: a C++ exception crossing
// into the host's frames ends the host process.
#pragma once

namespace norrow::contract {

// Runs `body` and passes on its result; `failure` when it throws.
template <typename Body>
auto Guarded(int failure, Body body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace norrow::contract
