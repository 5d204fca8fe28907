// The whole page of a realistic UTF-8 answer, stage by stage, timed with the
// steady clock: built for Linux (iconv) and for Windows (Win32 conversion,
// run under Wine), where the benchmark library is not at hand.
//   page_timer [ROUNDS]   prints one line per stage: name, microseconds a page
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "answers.h"
#include "platform/platform.h"
#include "results/search_results.h"
#include "search/answer.h"
#include "search/page_search.h"
#include "search/query_encoding.h"

namespace {

using namespace norrow;

int Ok(const char*, unsigned) { return 1; }

// The fastest of five runs of `rounds` calls, in microseconds a call.
template <typename Body>
double Time(int rounds, Body body) {
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) body();
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / rounds);
    }
    return best;
}

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
    platform::AnsiString converted;
    search::Utf8ToAnsi(answer, converted);
    const search::XmlRange ansi{converted.data(), static_cast<int32_t>(converted.size())};
    int32_t total = 0;

    const double whole = Time(rounds, [&] {
        results::ResetSearchResults();
        search::Answer owned;
        handOver(owned);
        search::BringIntoAnsiCodePage(search::kGeocoder, owned);
        search::ReadPageAnswer(search::kGeocoder, owned, total);
    });
    const double hand = Time(rounds, [&] {
        search::Answer owned;
        handOver(owned);
    });
    const double conversion = Time(rounds, [&] {
        platform::AnsiString text;
        search::Utf8ToAnsi(answer, text);
    });
    const double extraction = Time(rounds, [&] {
        results::ResetSearchResults();
        search::ReadPageAnswer(search::kGeocoder, ansi, total);
    });
    if (total != 10 || results::searchResults.size != 10) {
        std::fprintf(stderr, "page_timer: the page did not give its ten hits\n");
        return 1;
    }
    std::printf(
        "answer_bytes %zu\nwhole_page_us %.2f\nhand_over_us %.2f\nconversion_us %.2f\n"
        "extraction_us %.2f\n",
        answer.size(), whole, hand, conversion, extraction);
    return 0;
}
