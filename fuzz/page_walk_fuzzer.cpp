// The page walk against the plain reading: any answer (the input's first byte
// odd), or one generated from the input (even), read both ways, must give the
// same result, total, status line, boxes and hits, byte for byte; and where
// the walk is sure, it must say what the locator says of a YDF element. At
// the end it prints how often the walk was sure, so that a campaign shows
// that the walk, not only its fallback, was tested.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "search/page_walk.h"
#include "testkit/page_generator.h"
#include "testkit/reading_outcome.h"

namespace {

using namespace norrow;

struct WalkCounts {  // [0] other answers, [1] generated ones
    long sure[2] = {}, all[2] = {};
    void Print() const {
        for (int kind = 0; kind < 2; ++kind) {
            if (all[kind] == 0) continue;
            std::fprintf(stderr, "page walk: sure of %ld of %ld %s answers (%.1f%%)\n", sure[kind],
                         all[kind], kind == 1 ? "generated" : "other",
                         100.0 * sure[kind] / all[kind]);
        }
    }
    void Count(bool generated, bool sureOfIt) {
        sure[generated] += sureOfIt;
        if (++all[generated] % 1000000 == 0) Print();  // for a run that is interrupted, too
    }
    ~WalkCounts() { Print(); }
} walkCounts;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool generated = (data[0] & 1) == 0;
    const std::string text = generated ? testkit::GeneratedAnswer(data + 1, size - 1)
                                       : std::string(data + 1, data + size);
    const std::vector<char> answer(text.begin(), text.end());  // nothing behind the answer
    const auto plain = testkit::Read(search::PageStrategy::kPlain, answer);
    const auto read = testkit::Read(search::PageStrategy::kWalk, answer);
    FUZZ_CHECK(read == plain);

    // Where the walk is sure, the page's test for a YDF element takes its word.
    const search::XmlRange range{answer.data(), static_cast<int32_t>(answer.size())};
    search::WalkedPage walked;
    search::WalkPage(range, walked);
    const bool sure = walked.verdict == search::WalkVerdict::kSure;
    search::XmlRange content{}, rest{};
    FUZZ_CHECK(!sure ||
               walked.page.ydf == (search::FindXmlElement(range, "YDF", content, rest) == 1));
    walkCounts.Count(generated, sure);
    return 0;
}
