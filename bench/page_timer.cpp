// The whole page of a realistic UTF-8 answer, stage by stage, timed with the
// steady clock: built for Linux (iconv) and for Windows (Win32 conversion,
// run under Wine), where the benchmark library is not at hand. Each stage
// twice: as the page reads now (one walk of the answer serves the test for a
// YDF element and the reading) and plainly (the locator, element by element).
//   page_timer [ROUNDS]   prints one line per figure: name, microseconds a page
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

// The fastest of 25 runs of `rounds` / 25 calls, in microseconds a call:
// short runs, so that some run finds the machine quiet even where others
// share it.
template <typename Body>
double Time(int rounds, Body body) {
    constexpr int kRuns = 25;
    const int calls = std::max(1, rounds / kRuns);
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) body();
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / calls);
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
    int32_t total = 0;
    bool allRead = true;
    auto plainPage = [&] {
        results::ResetSearchResults();
        search::Answer owned;
        handOver(owned);
        search::BringIntoAnsiCodePage(search::kGeocoder, owned);
        search::ReadPageAnswerPlainly(search::kGeocoder, owned.Bytes(), total);
    };

    // Each figure as the page reads now, then plainly.
    for (const bool plainly : {false, true}) {
        search::readPagesPlainly = plainly;
        const char* suffix = plainly ? "_plain" : "";
        const double whole = Time(rounds, [&] {
            if (plainly) {
                plainPage();
                return;
            }
            results::ResetSearchResults();
            search::Answer owned;
            handOver(owned);
            search::BringIntoAnsiCodePage(search::kGeocoder, owned);
            search::ReadPageAnswer(search::kGeocoder, owned, total);
        });
        allRead = allRead && total == 10 && results::searchResults.size == 10;
        const double intoAnsi = Time(rounds, [&] {
            search::Answer owned;
            handOver(owned);
            search::BringIntoAnsiCodePage(search::kGeocoder, owned);
        });
        search::Answer converted;
        handOver(converted);
        search::BringIntoAnsiCodePage(search::kGeocoder, converted);
        const double reading = Time(rounds, [&] {
            results::ResetSearchResults();
            if (plainly) {
                search::ReadPageAnswerPlainly(search::kGeocoder, converted.Bytes(), total);
            } else {
                search::ReadPageAnswer(search::kGeocoder, converted, total);  // from its walk
            }
        });
        const double extraction = Time(rounds, [&] {
            results::ResetSearchResults();
            if (plainly) {
                search::ReadPageAnswerPlainly(search::kGeocoder, converted.Bytes(), total);
            } else {
                search::ReadPageAnswer(search::kGeocoder, converted.Bytes(), total);  // walks
            }
        });
        allRead = allRead && total == 10 && results::searchResults.size == 10;
        std::printf(
            "whole_page%s_us %.2f\ninto_ansi%s_us %.2f\nreading%s_us %.2f\n"
            "extraction%s_us %.2f\n",
            suffix, whole, suffix, intoAnsi, suffix, reading, suffix, extraction);
    }
    search::readPagesPlainly = false;
    const double hand = Time(rounds, [&] {
        search::Answer owned;
        handOver(owned);
    });
    const double conversion = Time(rounds, [&] {
        platform::AnsiString text;
        search::Utf8ToAnsi(answer, text);
    });
    if (!allRead) {
        std::fprintf(stderr, "page_timer: the page did not give its ten hits\n");
        return 1;
    }
    std::printf("answer_bytes %zu\nhand_over_us %.2f\nconversion_us %.2f\n", answer.size(), hand,
                conversion);
    return 0;
}
