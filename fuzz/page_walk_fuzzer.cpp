// The page walk against the plain reading: any answer (the input's first byte
// odd), or one generated from the input (even), read both ways, must give the
// same result, total, status line, boxes and hits, byte for byte. Prints at
// the end how often the walk was sure of what it read, so that a campaign
// shows that the walk, not only its fallback, was tested.
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

class NoHits final : public search::HitSink {
public:
    void Take(const search::HitTexts&) override {}
};

struct WalkCounts {  // [0] other answers, [1] generated ones
    long sure[2] = {}, all[2] = {};
    ~WalkCounts() {
        for (int kind = 0; kind < 2; ++kind) {
            if (all[kind] == 0) continue;
            std::fprintf(stderr, "page walk: sure of %ld of %ld %s answers (%.1f%%)\n", sure[kind],
                         all[kind], kind == 1 ? "generated" : "other",
                         100.0 * sure[kind] / all[kind]);
        }
    }
} walkCounts;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool generated = (data[0] & 1) == 0;
    const std::string text = generated ? testkit::GeneratedAnswer(data + 1, size - 1)
                                       : std::string(data + 1, data + size);
    const std::vector<char> answer(text.begin(), text.end());  // nothing behind the answer
    const auto plain = testkit::Read(search::ReadPageAnswerPlainly, answer);
    const auto walked = testkit::Read(search::ReadPageAnswer, answer);
    FUZZ_CHECK(walked == plain);

    search::PageTexts page;
    NoHits hits;
    const search::XmlRange range{answer.data(), static_cast<int32_t>(answer.size())};
    walkCounts.sure[generated] += search::WalkPage(range, page, hits) == search::WalkVerdict::kSure;
    ++walkCounts.all[generated];
    return 0;
}
