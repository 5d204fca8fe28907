// Many searches in one process, as a long session in the viewer makes them:
// both targets, three pages each, through the plug-in's hooks and the
// stand-in host. Fails when the resident memory after the first 1,000
// searches grows by more than 1 MB by the end; prints the figures.
//   soak [SEARCHES] [DATA-FOLDER]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "contract/plugin_interface.h"
#include "platform/os.h"
#include "plugin/entry.h"
#include "search/hooks.h"
#include "search/page_search.h"
#include "standin.h"

#if NORROW_OS_WINDOWS
#include <windows.h>

#include <psapi.h>  // needs windows.h first
#endif

namespace {

long ResidentKilobytes() {
#if NORROW_OS_WINDOWS
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.WorkingSetSize / 1024);
#else
    long pages = 0, resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm != nullptr) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * 4;
#endif
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "soak: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Answers {
    std::vector<std::string> pages;  // answered in turn
    std::string serverInfo;
    size_t next = 0;
};

int Answer(void* context, const StandIn_HttpRequest* request, StandIn_HttpReply* reply) {
    auto* answers = static_cast<Answers*>(context);
    const std::string& bytes = request->kind == StandIn_Post
                                   ? answers->serverInfo
                                   : answers->pages[answers->next++ % answers->pages.size()];
    reply->result = 0;
    reply->bytes = bytes.data();
    reply->length = static_cast<int32_t>(bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const long searches = argc > 1 ? std::atol(argv[1]) : 100000;
    const std::string data = argc > 2 ? argv[2] : NORROW_TEST_DATA;
    Answers answers;
    for (const char* page :
         {"utf8_page1_of_25.xml", "utf8_page2_of_25.xml", "utf8_page3_of_25.xml"}) {
        answers.pages.push_back(Read(data + "/e2e/" + page));
    }
    answers.serverInfo =
        "SERVERINFO\r\nGEOCODER g,/g,,80,id\r\nLOCALSEARCH l,/l,,80,id\r\nMAXPAGE 3\r\n";
    StandIn_Reset();
    StandIn_SetHttpHandler(Answer, &answers);

    PLUGININFO info{};
    if (norrow::plugin::Create(&info, 1) != 1 ||
        norrow::search::Load(norrow::plugin::pluginHandle) != 1)
        return 1;
    TSI_HOOKPROC hooks[2] = {norrow::search::GeocoderHookProc, norrow::search::LocalSearchHookProc};
    for (TSI_HOOKPROC hook : hooks) hook(kEventRegisterTarget, nullptr, nullptr);
    const uint32_t ids[] = {norrow::search::geocoderTargetId, norrow::search::localTargetId};

    SEARCHREQUEST request{};
    request.header = 1;
    request.query = "\x89\x77";
    request.targetCount = 2;
    request.targetIds = ids;
    request.filter1 = request.filter2 = kNoFilter;

    long afterWarmUp = 0;
    for (long i = 1; i <= searches; ++i) {
        for (TSI_HOOKPROC hook : hooks) {
            answers.next = 0;
            if (hook(kEventSearch, nullptr, &request) != 1 || request.resultCount != 25) {
                std::fprintf(stderr, "soak: search %ld was not served\n", i);
                return 1;
            }
        }
        StandIn_ClearCalls();
        if (i == 1000) afterWarmUp = ResidentKilobytes();
    }
    const long atEnd = ResidentKilobytes();
    norrow::plugin::Release();
    const long growth = atEnd - afterWarmUp;
    std::printf(
        "soak: %ld searches (2 targets x 3 pages each); resident memory after 1,000: %ld KB, "
        "at the end: %ld KB, growth %ld KB (limit 1024 KB)\n",
        searches, afterWarmUp, atEnd, growth);
    return searches < 1000 || growth <= 1024 ? 0 : 1;
}
