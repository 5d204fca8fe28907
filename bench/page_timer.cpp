// The whole page of a realistic UTF-8 answer, stage by stage, timed with the
// steady clock: built for Linux (iconv) and for Windows (Win32 conversion,
// run under Wine), where the benchmark library is not at hand. The test for a
// YDF element, the reading and the whole page twice: as the page reads now
// (one walk of the answer serves the test and the reading) and plainly (the
// locator's scan for YDF, then the locator element by element).
//   page_timer [ROUNDS]   prints one line per figure: name, microseconds a page
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "answers.h"
#include "platform/platform.h"
#include "results/search_results.h"
#include "search/answer.h"
#include "search/page_search.h"
#include "search/page_walk.h"
#include "search/query_encoding.h"
#include "search/xml_locator.h"

namespace {

using namespace norrow;

int Ok(const char*, unsigned) { return 1; }

// The fastest run of every figure: each figure is timed in short runs of
// `calls` calls, five runs in each of five passes over all the figures, so
// that its runs lie spread over the whole measurement and some of them find
// the machine quiet even where others share it.
class Timer {
public:
    static constexpr int kPasses = 5;
    static constexpr int kRunsAPass = 5;

    explicit Timer(int rounds) : calls_(std::max(1, rounds / (kPasses * kRunsAPass))) {}

    template <typename Body>
    void Time(const std::string& figure, Body body) {
        double& best = best_.emplace(figure, 1e30).first->second;
        for (int run = 0; run < kRunsAPass; ++run) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < calls_; ++i) body();
            const std::chrono::duration<double, std::micro> took =
                std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count() / calls_);
        }
    }

    void Print() const {
        for (const auto& [figure, best] : best_) std::printf("%s %.2f\n", figure.c_str(), best);
    }

private:
    int calls_;
    std::map<std::string, double> best_;  // microseconds a call
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    platform::System().messageBox = Ok;
    const std::string answer = bench::RealisticPage(10, true);
    auto handOver = [&](search::Answer& owned) {
        char* bytes = static_cast<char*>(::operator new(answer.size()));
        std::memcpy(bytes, answer.data(), answer.size());
        owned.TakeHostBuffer(bytes, static_cast<int32_t>(answer.size()));
    };
    int32_t total = 0;
    bool allRead = true;
    auto plainPage = [&] {
        results::ResetSearchResults();
        search::Answer owned(search::PageStrategy::kPlain);
        handOver(owned);
        search::BringIntoAnsiCodePage(search::kGeocoder, owned);
        search::ReadPageAnswer(search::kGeocoder, owned.Reading(), total);
    };

    Timer timer(rounds);
    search::Answer converted;  // the answer brought into the ANSI code page
    handOver(converted);
    search::BringIntoAnsiCodePage(search::kGeocoder, converted);
    const search::XmlRange ansi = converted.Bytes();
    for (int pass = 0; pass < Timer::kPasses; ++pass) {
        timer.Time("hand_over_us", [&] {
            search::Answer owned;
            handOver(owned);
        });
        timer.Time("conversion_us", [&] {
            platform::AnsiString text;
            search::Utf8ToAnsi(answer, text);
        });
        // The test for a YDF element: the walk, or the locator's scan.
        timer.Time("ydf_test_us", [&] {
            search::PageReading reading;
            reading.Read(ansi, search::PageStrategy::kWalk);
        });
        timer.Time("ydf_test_plain_us", [&] {
            search::XmlRange content{}, rest{};
            search::FindXmlElement(ansi, "YDF", content, rest);
        });
        // The reading: the hits the walk held into the store, or the plain reading.
        timer.Time("reading_us", [&] {
            results::ResetSearchResults();
            search::ReadPageAnswer(search::kGeocoder, converted.Reading(), total);  // from its walk
        });
        allRead = allRead && total == 10 && results::searchResults.size == 10;
        timer.Time("reading_plain_us", [&] {
            results::ResetSearchResults();
            search::ReadPageAnswer(search::kGeocoder, ansi, search::PageStrategy::kPlain, total);
        });
        allRead = allRead && total == 10 && results::searchResults.size == 10;
        timer.Time("whole_page_us", [&] {
            results::ResetSearchResults();
            search::Answer owned;
            handOver(owned);
            search::BringIntoAnsiCodePage(search::kGeocoder, owned);
            search::ReadPageAnswer(search::kGeocoder, owned.Reading(), total);
        });
        allRead = allRead && total == 10 && results::searchResults.size == 10;
        timer.Time("whole_page_plain_us", plainPage);
        allRead = allRead && total == 10 && results::searchResults.size == 10;
    }
    if (!allRead) {
        std::fprintf(stderr, "page_timer: the page did not give its ten hits\n");
        return 1;
    }
    std::printf("answer_bytes %zu\n", answer.size());
    timer.Print();
    return 0;
}
