// YDF answers made from bytes, for the differential fuzz target and the tests
// of the page walk: the bytes choose each element, text and flaw, so that
// most answers are ones a service could send, with the elements the page
// reads in any order, number and letter case, and some carry a flaw that no
// service makes (a missing end tag, a stray one, a comment, a cut).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace norrow::testkit {

// The answer that `size` bytes at `data` describe; every run of bytes
// describes one, and the same bytes the same one.
std::string GeneratedAnswer(const uint8_t* data, size_t size);

}  // namespace norrow::testkit
