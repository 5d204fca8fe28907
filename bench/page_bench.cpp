// How fast the plug-in reads a page, against a general XML parser and the
// memory-bound floor; the whole page by stage; scaling with the answer's
// size; a page over loopback against a raw GET; and the peak heap.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "answers.h"
#include "heap_meter.h"
#include "platform/numbers.h"
#include "platform/platform.h"
#include "readers.h"
#include "results/search_results.h"
#include "search/answer.h"
#include "search/page_search.h"
#include "search/query_encoding.h"
#include "search/query_url.h"
#include "serverinfo/server_info.h"
#include "services/services.h"
#include "standin.h"
#include "tamsel-sim/http_client.h"

namespace {

using namespace norrow;
using search::XmlRange;

int Ok(const char*, unsigned) { return 1; }

void Quiet() { platform::System().messageBox = Ok; }

const std::string& Page(bool utf8) {
    static const std::string sjis = bench::RealisticPage(10, false);
    static const std::string utf8Page = bench::RealisticPage(10, true);
    return utf8 ? utf8Page : sjis;
}

XmlRange Range(const std::string& text) { return {text.data(), static_cast<int32_t>(text.size())}; }

// ---- Extraction of the fields the plug-in reads ----------------------------

void PluginExtraction(benchmark::State& state, const std::string& answer) {
    Quiet();
    for (auto _ : state) benchmark::DoNotOptimize(bench::ReadAsPlugin(answer, false));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(answer.size()));
    state.counters["bytes"] = static_cast<double>(answer.size());
}

// The plain reading, element by element with the locator: what the plug-in
// did before it walked the page.
void PlainExtraction(benchmark::State& state, const std::string& answer) {
    Quiet();
    for (auto _ : state) benchmark::DoNotOptimize(bench::ReadAsPlugin(answer, true));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(answer.size()));
    state.counters["bytes"] = static_cast<double>(answer.size());
}

void PugixmlExtraction(benchmark::State& state, const std::string& answer) {
    std::vector<char> buffer(answer.size());
    for (auto _ : state) {
        if (!bench::ReadWithPugixml(answer, buffer)) state.SkipWithError("status");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(answer.size()));
    state.counters["bytes"] = static_cast<double>(answer.size());
}

void MemchrFloor(benchmark::State& state, const std::string& answer) {
    for (auto _ : state) benchmark::DoNotOptimize(bench::CountAngleBrackets(answer));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(answer.size()));
    state.counters["bytes"] = static_cast<double>(answer.size());
}

// The byte scanning under the walk, without the walk's rules.
void TagScan(benchmark::State& state, const std::string& answer) {
    for (auto _ : state) benchmark::DoNotOptimize(bench::ScanTags(answer));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(answer.size()));
    state.counters["bytes"] = static_cast<double>(answer.size());
}

BENCHMARK_CAPTURE(PluginExtraction, sjis, Page(false));
BENCHMARK_CAPTURE(PlainExtraction, sjis, Page(false));
BENCHMARK_CAPTURE(PugixmlExtraction, sjis, Page(false));
BENCHMARK_CAPTURE(MemchrFloor, sjis, Page(false));
BENCHMARK_CAPTURE(PluginExtraction, utf8, Page(true));
BENCHMARK_CAPTURE(PlainExtraction, utf8, Page(true));
BENCHMARK_CAPTURE(PugixmlExtraction, utf8, Page(true));
BENCHMARK_CAPTURE(MemchrFloor, utf8, Page(true));
BENCHMARK_CAPTURE(TagScan, sjis, Page(false));
BENCHMARK_CAPTURE(TagScan, utf8, Page(true));

// ---- The whole page of a UTF-8 answer, and its stages ------------------------

// What the host hands over: a new buffer holding the answer.
char* HostCopy(const std::string& answer) {
    char* bytes = static_cast<char*>(::operator new(answer.size()));
    std::memcpy(bytes, answer.data(), answer.size());
    return bytes;
}

// A page from the host's hand-over to the last hit in the store.
void ReadWholePage(const std::string& answer) {
    results::ResetSearchResults();
    search::Answer owned;
    owned.TakeHostBuffer(HostCopy(answer), static_cast<int32_t>(answer.size()));
    search::BringIntoAnsiCodePage(search::kGeocoder, owned);
    int32_t total = 0;
    search::ReadPageAnswer(search::kGeocoder, owned.Reading(), total);
    benchmark::DoNotOptimize(total);
}

void WholePages(benchmark::State& state, const std::string& answer) {
    Quiet();
    for (auto _ : state) ReadWholePage(answer);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(answer.size()));
    state.counters["bytes"] = static_cast<double>(answer.size());
}

void WholePage(benchmark::State& state) { WholePages(state, Page(true)); }
BENCHMARK(WholePage)->Unit(benchmark::kMicrosecond);

void StageHandOver(benchmark::State& state) {
    const std::string& answer = Page(true);
    for (auto _ : state) {
        search::Answer owned;
        owned.TakeHostBuffer(HostCopy(answer), static_cast<int32_t>(answer.size()));
    }
}
BENCHMARK(StageHandOver)->Unit(benchmark::kMicrosecond);

void StageConversion(benchmark::State& state) {
    const std::string& answer = Page(true);
    for (auto _ : state) {
        platform::AnsiString converted;
        benchmark::DoNotOptimize(search::Utf8ToAnsi(answer, converted));
    }
}
BENCHMARK(StageConversion)->Unit(benchmark::kMicrosecond);

void StageExtraction(benchmark::State& state) {
    Quiet();
    platform::AnsiString converted;
    search::Utf8ToAnsi(Page(true), converted);
    for (auto _ : state) {
        results::ResetSearchResults();
        int32_t total = 0;
        search::ReadPageAnswer(search::kGeocoder, Range(converted), search::PageStrategy::kWalk,
                               total);
    }
}
BENCHMARK(StageExtraction)->Unit(benchmark::kMicrosecond);

// ---- Scaling and adversarial answers ---------------------------------------------

// Pages of 6 to 100,000 hits (about 1 KB to 16 MB).
void ScalingSizes(benchmark::internal::Benchmark* benchmark) {
    for (int hits : {6, 10, 100, 1000, 10000, 100000}) benchmark->Arg(hits);
    benchmark->Unit(benchmark::kMicrosecond);
}

// The reading of a compact page, with the walk or (before) plainly.
void ScalingReading(benchmark::State& state, bool plainly) {
    Quiet();
    const std::string answer = bench::CompactPage(static_cast<int>(state.range(0)), false);
    for (auto _ : state) benchmark::DoNotOptimize(bench::ReadAsPlugin(answer, plainly));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(answer.size()));
    state.counters["bytes"] = static_cast<double>(answer.size());
}
void ScalingExtraction(benchmark::State& state) { ScalingReading(state, false); }
BENCHMARK(ScalingExtraction)->Apply(ScalingSizes);
void ScalingPlainExtraction(benchmark::State& state) { ScalingReading(state, true); }
BENCHMARK(ScalingPlainExtraction)->Apply(ScalingSizes);

void ScalingWholePage(benchmark::State& state) {
    WholePages(state, bench::CompactPage(static_cast<int>(state.range(0)), true));
}
BENCHMARK(ScalingWholePage)->Apply(ScalingSizes);

void Adversarial(benchmark::State& state, std::string (*make)(size_t)) {
    WholePages(state, make(static_cast<size_t>(state.range(0))));
}
BENCHMARK_CAPTURE(Adversarial, deep_nesting, bench::DeepNesting)
    ->Arg(1 << 20)
    ->Arg(16 << 20)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Adversarial, angle_brackets, bench::AngleBrackets)
    ->Arg(1 << 20)
    ->Arg(16 << 20)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Adversarial, skipped_elements, bench::SkippedElements)
    ->Arg(1 << 20)
    ->Arg(16 << 20)
    ->Unit(benchmark::kMicrosecond);

// ---- One page over loopback, against a raw GET of the same URL ----------------------

struct Loopback {
    Loopback() : services(tools::Gazetteer::BuiltIn()) { port = services.Start(0); }
    tools::StandInServices services;
    int port;
};

Loopback& Services() {
    static Loopback loopback;
    return loopback;
}

int SendThroughClient(void*, const StandIn_HttpRequest* request, StandIn_HttpReply* reply) {
    static std::string body;
    sim::HttpExchange exchange;
    exchange.host = request->host;
    exchange.port = request->port;
    exchange.path = request->path;
    exchange.userAgent = request->userAgent;
    const sim::HttpResponse response = sim::Send(exchange);
    body = response.body;
    reply->result = response.status == 200 ? 0 : 1;
    reply->bytes = body.data();
    reply->length = static_cast<int32_t>(body.size());
    return 0;
}

SEARCHREQUEST StationRequest() {
    SEARCHREQUEST request{};
    request.header = 1;
    request.query = "\x89\x77";  // 駅
    request.filter1 = request.filter2 = kNoFilter;
    return request;
}

void UseServices() {
    serverinfo::ServerInfo& info = serverinfo::serverInfo;
    info.geocoder = {"127.0.0.1", tools::kGeocoderPath, "", tools::kServicesAppid, Services().port};
    info.valid = 1;
    info.ServerInfoAt = platform::System().now();
}

void LoopbackRawGet(benchmark::State& state) {
    UseServices();
    SEARCHREQUEST request = StationRequest();
    std::string url;
    search::BuildQueryUrl(search::kGeocoder, request, 0, url);
    for (auto _ : state) {
        sim::HttpExchange exchange;
        exchange.host = "127.0.0.1";
        exchange.port = Services().port;
        exchange.path = url;
        exchange.userAgent = "PlaceNameSearchPlugin/1.0";
        benchmark::DoNotOptimize(sim::Send(exchange).body.size());
    }
}
BENCHMARK(LoopbackRawGet)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A page search over loopback; with plainly set, as the plug-in read before
// it walked the page.
void LoopbackPage(benchmark::State& state, bool plainly) {
    Quiet();
    UseServices();
    StandIn_Reset();
    StandIn_SetHttpHandler(SendThroughClient, nullptr);
    const auto strategy = plainly ? search::PageStrategy::kPlain : search::PageStrategy::kWalk;
    SEARCHREQUEST request = StationRequest();
    for (auto _ : state) {
        benchmark::DoNotOptimize(search::SearchGeocoder(&request, nullptr, 0, strategy));
        StandIn_ClearCalls();
    }
    if (request.resultCount != 10) state.SkipWithError("the page did not bring ten hits");
    StandIn_SetHttpHandler(nullptr, nullptr);
}

void LoopbackPluginPage(benchmark::State& state) { LoopbackPage(state, false); }
BENCHMARK(LoopbackPluginPage)->Unit(benchmark::kMicrosecond)->UseRealTime();

void LoopbackPlainPage(benchmark::State& state) { LoopbackPage(state, true); }
BENCHMARK(LoopbackPlainPage)->Unit(benchmark::kMicrosecond)->UseRealTime();

// ---- Peak heap of a page over a 16 MB answer ----------------------------------------

// The answer is alive from the host's hand-over; the meter starts there. The
// conversion's peak is the answer plus all it allocates; the extraction adds
// the store of the hits, which is the page's result, reported per hit.
void PeakHeap(benchmark::State& state) {
    Quiet();
    const std::string answer = bench::CompactPage(100000, state.range(0) == 1);
    const double size = static_cast<double>(answer.size());
    double conversion = 0, page = 0, storePerHit = 0;
    for (auto _ : state) {
        results::ResetSearchResults();
        search::Answer owned;
        owned.TakeHostBuffer(HostCopy(answer), static_cast<int32_t>(answer.size()));
        bench::HeapMeter whole;
        {
            bench::HeapMeter meter;
            search::BringIntoAnsiCodePage(search::kGeocoder, owned);
            conversion = (size + static_cast<double>(meter.PeakAboveStart())) / size;
        }
        const size_t beforeStore = whole.PeakAboveStart();
        bench::HeapMeter store;
        int32_t total = 0;
        search::ReadPageAnswer(search::kGeocoder, owned.Reading(), total);
        storePerHit = static_cast<double>(store.PeakAboveStart()) / results::searchResults.size;
        page = (size + static_cast<double>(std::max(beforeStore, whole.PeakAboveStart()))) / size;
    }
    state.counters["answer_bytes"] = size;
    state.counters["conversion_peak_multiple"] = conversion;
    state.counters["page_peak_multiple"] = page;
    state.counters["store_bytes_per_hit"] = storePerHit;
}
BENCHMARK(PeakHeap)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
