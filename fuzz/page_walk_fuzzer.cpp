// The page walk against the plain reading: any answer (the input's first byte
// odd), or one generated from the input (even), read both ways, must give the
// same result, total, status line, boxes and hits, byte for byte.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "reading_outcome.h"
#include "testkit/page_generator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool generated = (data[0] & 1) == 0;
    const std::string text = generated ? norrow::testkit::GeneratedAnswer(data + 1, size - 1)
                                       : std::string(data + 1, data + size);
    const std::vector<char> answer(text.begin(), text.end());  // nothing behind the answer
    const auto plain = norrow::fuzz::Read(norrow::search::ReadPageAnswerPlainly, answer);
    const auto walked = norrow::fuzz::Read(norrow::search::ReadPageAnswer, answer);
    FUZZ_CHECK(walked == plain);
    norrow::fuzz::CountWalk(answer, generated);
    return 0;
}
