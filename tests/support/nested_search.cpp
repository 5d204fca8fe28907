#include "support/nested_search.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/os.h"
#include "standin.h"
#include "support/search_support.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#endif

namespace norrow::test {

const std::vector<Nesting> kNestings = {
    {"address search in the address search's first request", 0, 0, CallBackAt::kFirstRequest},
    {"local search in the address search's first request", 0, 1, CallBackAt::kFirstRequest},
    {"local search in the local search's second request", 1, 1, CallBackAt::kLaterRequest},
    {"address search in the local search's second request", 1, 0, CallBackAt::kLaterRequest},
    {"local search in the user message", 1, 1, CallBackAt::kUserMessageBox},
    {"address search in the user message", 1, 0, CallBackAt::kUserMessageBox},
    {"address search in a first page's stop box", 0, 0, CallBackAt::kFirstPageStopBox},
    {"local search in a first page's stop box", 0, 1, CallBackAt::kFirstPageStopBox},
    {"local search in a second page's stop box", 1, 1, CallBackAt::kLaterPageStopBox},
    {"address search in a second page's stop box", 1, 0, CallBackAt::kLaterPageStopBox},
    {"About in the second request", 0, kCallAbout, CallBackAt::kLaterRequest},
    {"About in a second page's stop box", 0, kCallAbout, CallBackAt::kLaterPageStopBox},
};

namespace {

// One search: the host's script of answers, the call back, what was seen.
struct Run {
    const HeldPlugin& plugin;
    const Nesting& nesting;
    bool callBack;
    int depth = 0;       // inside the call back
    int outerPages = 0;  // the outer search's GETs so far
    std::string reply;   // the last answer, alive until the handler returns
    HostView view;
};

bool IsStopBox(CallBackAt at) {
    return at == CallBackAt::kFirstPageStopBox || at == CallBackAt::kLaterPageStopBox;
}

// Calls the plug-in back, once, with a request that names both targets, and
// notes what the plug-in did meanwhile.
void CallBack(Run& run) {
    if (!run.callBack || run.view.calledBack > 0) return;
    ++run.view.calledBack;
    ++run.depth;
    Request nested("nested", {run.plugin.ids[0], run.plugin.ids[1]});
    unsigned char before[sizeof(SEARCHREQUEST)];
    std::memcpy(before, &nested.record, sizeof before);
    int context = 0;
    const int callsBefore = StandIn_CallCount();
    run.view.nestedResult =
        run.nesting.nested == kCallAbout
            ? run.plugin.about()
            : run.plugin.hooks[run.nesting.nested](kEventSearch, &context, &nested.record);
    for (int i = callsBefore; i < StandIn_CallCount(); ++i) {
        if (StandIn_GetCall(i)->function != StandIn_FnMessageBox) ++run.view.hostCallsInside;
    }
    run.view.nestedRequestWritten = std::memcmp(before, &nested.record, sizeof before) != 0;
    --run.depth;
}

// A box of the plug-in has its text: the search's own box is where the host
// calls back, when the nesting says so.
void SawBox(Run& run, const char* text) {
    if (run.depth > 0) {
        run.view.boxesInside.emplace_back(text);
        return;
    }
    run.view.boxes.emplace_back(text);
    if (run.nesting.at == CallBackAt::kUserMessageBox || IsStopBox(run.nesting.at)) CallBack(run);
}

int Answer(void* context, const StandIn_HttpRequest* request, StandIn_HttpReply* reply) {
    Run& run = *static_cast<Run*>(context);
    const CallBackAt at = run.nesting.at;
    if (request->kind == StandIn_Post) {
        run.reply =
            "SERVERINFO\nGEOCODER geo.example,/geocoder,,80,GEO-ID\n"
            "LOCALSEARCH local.example,/local,,8080,LOCAL-ID\nMAXPAGE 3\n";
        if (at == CallBackAt::kUserMessageBox) run.reply += "USER_MESSAGE Hello_World\n";
    } else if (run.depth > 0) {
        run.reply = Ydf(Hits(3, "nested"), "3");
    } else {
        const int page = ++run.outerPages;
        if ((page == 1 && at == CallBackAt::kFirstRequest) ||
            (page == 2 && at == CallBackAt::kLaterRequest)) {
            CallBack(run);
        }
        const bool stops = (page == 1 && at == CallBackAt::kFirstPageStopBox) ||
                           (page == 2 && at == CallBackAt::kLaterPageStopBox);
        run.reply = stops ? ReadDataFile("ydf/sjis_not_ydf_output_error.html")
                          : Ydf(Hits(page < 3 ? 10 : 5, "p" + std::to_string(page) + "-"), "25");
    }
    reply->result = 0;
    reply->bytes = run.reply.data();
    reply->length = static_cast<int32_t>(run.reply.size());
    return 0;
}

#if NORROW_OS_WINDOWS
void OnBox(void* context, void* box) {
    char text[1024] = "";
    GetDlgItemTextA(static_cast<HWND>(box), 0xFFFF, text, sizeof text);  // the message's static
    SawBox(*static_cast<Run*>(context), text);
}
#else
int OnBox(void* context, const char* text, unsigned) {
    SawBox(*static_cast<Run*>(context), text);
    return 1;  // OK
}
#endif

std::string HitLine(const SEARCHRESULT& hit) {
    return std::string(hit.name) + "|" + hit.yomi + "|" + hit.address + "|" +
           std::to_string(hit.latitude) + "|" + std::to_string(hit.longitude) + "|" +
           std::to_string(hit.attribute) + "|" + std::to_string(hit.targetId);
}

}  // namespace

HostView SearchCalledBack(const HeldPlugin& plugin, const Nesting& nesting, bool callBack) {
    Run run{plugin, nesting, callBack, 0, 0, {}, {}};
    StandIn_ClearCalls();
    StandIn_SetHttpHandler(Answer, &run);
#if NORROW_OS_WINDOWS
    StandIn_AnswerBoxes(OnBox, &run);
#else
    StandIn_SetMessageBoxHandler(OnBox, &run);
#endif
    Request request("outer", {plugin.ids[nesting.outer]});
    int context = 0;
    run.view.result = plugin.hooks[nesting.outer](kEventSearch, &context, &request.record);
#if NORROW_OS_WINDOWS
    StandIn_StopAnsweringBoxes();
#else
    StandIn_SetMessageBoxHandler(nullptr, nullptr);
#endif
    StandIn_SetHttpHandler(nullptr, nullptr);

    HostView& view = run.view;
    view.resultCount = request.record.resultCount;
    for (int32_t i = 0; request.record.results != nullptr && i < view.resultCount; ++i) {
        view.hits.push_back(HitLine(request.record.results[i]));
    }
    for (int i = 0; i < StandIn_CallCount(); ++i) {
        const StandIn_Call& call = *StandIn_GetCall(i);
        if (call.function == StandIn_FnHttpRequest2 || call.function == StandIn_FnHttpProgressPost) {
            view.requests.push_back(std::string(call.http.host) + ":" +
                                    std::to_string(call.http.port) + call.http.path);
        } else if (call.function == StandIn_FnSetSearchStatus) {
            view.status.emplace_back(call.text);
        }
    }
    return view;
}

void ExpectUndisturbed(const HostView& alone, const HostView& calledBack, const Nesting& nesting) {
    SCOPED_TRACE(nesting.what);
    // The search alone went as its script says.
    const CallBackAt at = nesting.at;
    EXPECT_EQ(alone.result, IsStopBox(at) ? 0 : 1);
    EXPECT_EQ(alone.resultCount, at == CallBackAt::kFirstPageStopBox   ? -1  // not written
                                 : at == CallBackAt::kLaterPageStopBox ? 10
                                                                       : 25);
    EXPECT_EQ(alone.boxes.size(), at == CallBackAt::kUserMessageBox || IsStopBox(at) ? 1u : 0u);

    // The host called back once; the plug-in refused without a trace, or
    // showed its About box and nothing else.
    EXPECT_EQ(calledBack.calledBack, 1);
    EXPECT_EQ(calledBack.hostCallsInside, 0);
    if (nesting.nested == kCallAbout) {
        EXPECT_EQ(calledBack.nestedResult, 1) << "OK pressed in the About box";
        EXPECT_EQ(calledBack.boxesInside.size(), 1u);
    } else {
        EXPECT_EQ(calledBack.nestedResult, 0);
        EXPECT_TRUE(calledBack.boxesInside.empty());
        EXPECT_FALSE(calledBack.nestedRequestWritten);
    }

    // The running search went on exactly as alone.
    EXPECT_EQ(calledBack.result, alone.result);
    EXPECT_EQ(calledBack.resultCount, alone.resultCount);
    EXPECT_EQ(calledBack.hits, alone.hits);
    EXPECT_EQ(calledBack.requests, alone.requests);
    EXPECT_EQ(calledBack.status, alone.status);
    EXPECT_EQ(calledBack.boxes, alone.boxes);
}

}  // namespace norrow::test
