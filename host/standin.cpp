// The stand-in host: the host's functions for a plug-in, with state that tests
// and tamsel-sim set and a record of every call.
#include "standin.h"

#include <cstring>
#include <deque>
#include <map>
#include <new>
#include <string>

#if NORROW_OS_WINDOWS
#include <windows.h>
#endif

namespace {

// One recorded call, with copies of the texts it carried.
struct Record {
    StandIn_Call call{};
    std::string text, host, path, header, body, referer, userAgent;

    const char* Keep(std::string& copy, const char* source) {
        if (source == nullptr) return nullptr;
        copy = source;
        return copy.c_str();
    }
};

struct Reply {
    StandIn_HttpReply reply{};
    std::string bytes;
};

struct Host {
    int version = 9190;
    int online = 1;
    std::map<std::string, uint32_t> profile;
    uint32_t nextTargetId = 1;
    std::deque<Reply> queued[2];
    StandIn_HttpHandler httpHandler = nullptr;
    void* httpContext = nullptr;
    StandIn_MessageBoxHandler boxHandler = nullptr;
    void* boxContext = nullptr;
    std::deque<Record> calls;  // a deque keeps every record where it is

    Record& Log(int function) {
        calls.emplace_back();
        calls.back().call.function = function;
        return calls.back();
    }
};

Host& TheHost() {
    static Host host;
    return host;
}

StandIn_CallObserver callObserver = nullptr;

// Marks one call into the host, from its start to its return.
class InHost {
public:
    InHost() {
        if (callObserver != nullptr) callObserver(1);
    }
    ~InHost() {
        if (callObserver != nullptr) callObserver(0);
    }
    InHost(const InHost&) = delete;
    InHost& operator=(const InHost&) = delete;
};

// Records the request, finds its reply and hands the plug-in a buffer.
int Serve(StandIn_HttpRequest request, char** answer, int32_t* answerLength) {
    Host& host = TheHost();
    Record& record =
        host.Log(request.kind == StandIn_Get ? StandIn_FnHttpRequest2 : StandIn_FnHttpProgressPost);
    request.host = record.Keep(record.host, request.host);
    request.path = record.Keep(record.path, request.path);
    request.header = record.Keep(record.header, request.header);
    request.body = record.Keep(record.body, request.body);
    request.referer = record.Keep(record.referer, request.referer);
    request.userAgent = record.Keep(record.userAgent, request.userAgent);
    record.call.http = request;

    StandIn_HttpReply reply{};
    std::string bytes;
    std::deque<Reply>& queue = host.queued[request.kind];
    if (!queue.empty()) {
        reply = queue.front().reply;
        bytes = std::move(queue.front().bytes);
        queue.pop_front();
    } else if (host.httpHandler != nullptr) {
        if (host.httpHandler(host.httpContext, &request, &reply) == 0 && reply.bytes != nullptr) {
            bytes.assign(reply.bytes, reply.length > 0 ? reply.length : 0);
        }
    } else {
        reply.result = 1;  // no connection
    }
    record.call.result = reply.result;

    const bool deliver =
        reply.result == 0 || (request.kind == StandIn_Get && reply.bytes != nullptr);
    if (deliver && answer != nullptr && answerLength != nullptr) {
        char* buffer = nullptr;
        if (!reply.nullBuffer) {
            buffer = static_cast<char*>(::operator new(bytes.size()));
            std::memcpy(buffer, bytes.data(), bytes.size());
        }
        *answer = buffer;
        *answerLength =
            reply.overrideLength ? reply.reportedLength : static_cast<int32_t>(bytes.size());
    }
    return reply.result;
}

#if NORROW_OS_WINDOWS
struct BoxAnswering {
    HHOOK hook = nullptr;
    StandIn_BoxCallback callback = nullptr;
    void* context = nullptr;
};

BoxAnswering boxAnswering;

bool IsDialog(HWND window) {
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    return std::strcmp(name, "#32770") == 0;
}

// A dialog box has its text and icon once it has handled WM_INITDIALOG.
LRESULT CALLBACK AfterMessage(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && boxAnswering.callback != nullptr &&
        message->message == WM_INITDIALOG && IsDialog(message->hwnd)) {
        boxAnswering.callback(boxAnswering.context, message->hwnd);
        PostMessageA(message->hwnd, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(boxAnswering.hook, code, wParam, lParam);
}
#endif

}  // namespace

extern "C" {

// ---- Control ----------------------------------------------------------------

void StandIn_Reset(void) { TheHost() = Host(); }
void StandIn_SetVersion(int version) { TheHost().version = version; }
void StandIn_SetOnline(int online) { TheHost().online = online; }
void StandIn_SetProfileInt(const char* key, uint32_t value) { TheHost().profile[key] = value; }

int StandIn_GetProfileInt(const char* key, uint32_t* value) {
    const auto& profile = TheHost().profile;
    const auto found = profile.find(key);
    if (found == profile.end()) return 0;
    *value = found->second;
    return 1;
}

void StandIn_SetNextTargetId(uint32_t id) { TheHost().nextTargetId = id; }

void StandIn_QueueReply(int kind, const StandIn_HttpReply* reply) {
    Reply queued;
    queued.reply = *reply;
    if (reply->bytes != nullptr && reply->length > 0)
        queued.bytes.assign(reply->bytes, reply->length);
    TheHost().queued[kind == StandIn_Post ? 1 : 0].push_back(std::move(queued));
}

void StandIn_SetHttpHandler(StandIn_HttpHandler handler, void* context) {
    TheHost().httpHandler = handler;
    TheHost().httpContext = context;
}

void StandIn_SetMessageBoxHandler(StandIn_MessageBoxHandler handler, void* context) {
    TheHost().boxHandler = handler;
    TheHost().boxContext = context;
}

void StandIn_SetCallObserver(StandIn_CallObserver observer) { callObserver = observer; }

int StandIn_CallCount(void) { return static_cast<int>(TheHost().calls.size()); }

void StandIn_ClearCalls(void) { TheHost().calls.clear(); }

const StandIn_Call* StandIn_GetCall(int index) {
    const auto& calls = TheHost().calls;
    if (index < 0 || static_cast<size_t>(index) >= calls.size()) return nullptr;
    return &calls[index].call;
}

#if NORROW_OS_LINUX
int Desktop_MessageBox(const char* text, unsigned type) {
    const InHost inHost;
    Host& host = TheHost();
    Record& record = host.Log(StandIn_FnMessageBox);
    record.call.text = record.Keep(record.text, text);
    record.call.value = type;
    const int button =
        host.boxHandler != nullptr ? host.boxHandler(host.boxContext, text, type) : 1;  // OK
    record.call.result = button;
    return button;
}
#endif

#if NORROW_OS_WINDOWS
int StandIn_AnswerBoxes(StandIn_BoxCallback callback, void* context) {
    StandIn_StopAnsweringBoxes();
    boxAnswering.callback = callback;
    boxAnswering.context = context;
    boxAnswering.hook =
        SetWindowsHookExA(WH_CALLWNDPROCRET, AfterMessage, nullptr, GetCurrentThreadId());
    return boxAnswering.hook != nullptr ? 1 : 0;
}

void StandIn_StopAnsweringBoxes(void) {
    if (boxAnswering.hook != nullptr) UnhookWindowsHookEx(boxAnswering.hook);
    boxAnswering = BoxAnswering();
}
#endif

// ---- The host's functions -----------------------------------------------------

STANDIN_API int TSI_CALL TSI_GetVersion(void) {
    const InHost inHost;
    Record& record = TheHost().Log(StandIn_FnGetVersion);
    record.call.result = TheHost().version;
    return TheHost().version;
}

STANDIN_API uint32_t TSI_CALL TSI_GetProfileInt(uint32_t pluginHandle, const char* key,
                                                uint32_t defaultValue) {
    const InHost inHost;
    Host& host = TheHost();
    Record& record = host.Log(StandIn_FnGetProfileInt);
    record.call.pluginHandle = pluginHandle;
    record.call.text = record.Keep(record.text, key);
    record.call.value = defaultValue;
    const auto found = key != nullptr ? host.profile.find(key) : host.profile.end();
    const uint32_t value = found != host.profile.end() ? found->second : defaultValue;
    record.call.result = value;
    return value;
}

STANDIN_API int TSI_CALL TSI_WriteProfileInt(uint32_t pluginHandle, const char* key,
                                             int32_t value) {
    const InHost inHost;
    Host& host = TheHost();
    Record& record = host.Log(StandIn_FnWriteProfileInt);
    record.call.pluginHandle = pluginHandle;
    record.call.text = record.Keep(record.text, key);
    record.call.value = value;
    if (key == nullptr) return 0;
    host.profile[key] = static_cast<uint32_t>(value);
    record.call.result = 1;
    return 1;
}

STANDIN_API uint32_t TSI_CALL TSI_AddHook(int32_t kind, HOOKENTRY* entry) {
    const InHost inHost;
    Record& record = TheHost().Log(StandIn_FnAddHook);
    record.call.value = kind;
    if (entry != nullptr) record.call.hook = *entry;
    record.call.result = entry != nullptr ? 1 : 0;
    return static_cast<uint32_t>(record.call.result);
}

STANDIN_API uint32_t TSI_CALL TSI_InsertSearchTarget(uint32_t parent, uint32_t kind,
                                                     const char* name, uint32_t flags) {
    const InHost inHost;
    Host& host = TheHost();
    Record& record = host.Log(StandIn_FnInsertSearchTarget);
    record.call.args[0] = parent;
    record.call.args[1] = kind;
    record.call.args[3] = flags;
    record.call.text = record.Keep(record.text, name);
    const uint32_t id = host.nextTargetId;
    if (id != 0) ++host.nextTargetId;
    record.call.result = id;
    return id;
}

STANDIN_API uint32_t TSI_CALL TSI_GetActiveCoverMap(void) {
    const InHost inHost;
    TheHost().Log(StandIn_FnGetActiveCoverMap).call.result = 1;
    return 1;
}

STANDIN_API int TSI_CALL TSI_GetDatum(uint32_t coverMap) {
    const InHost inHost;
    Record& record = TheHost().Log(StandIn_FnGetDatum);
    record.call.value = coverMap;
    return 0;
}

STANDIN_API void TSI_CALL TSI_SetSearchStatus(const char* text) {
    const InHost inHost;
    Record& record = TheHost().Log(StandIn_FnSetSearchStatus);
    record.call.text = record.Keep(record.text, text);
}

STANDIN_API void TSI_CALL TSI_SetSearchURL(const char* text) {
    const InHost inHost;
    Record& record = TheHost().Log(StandIn_FnSetSearchURL);
    record.call.text = record.Keep(record.text, text);
}

STANDIN_API int TSI_CALL TSI_IsOnline(void) {
    const InHost inHost;
    TheHost().Log(StandIn_FnIsOnline).call.result = TheHost().online;
    return TheHost().online;
}

STANDIN_API int TSI_CALL TSI_HttpRequest2(char** answer, int32_t* answerLength, const char* host,
                                          int32_t port, const char* path, int32_t timeout,
                                          void* hostContext, void* progress, const char* header,
                                          const char* body, const char* referer,
                                          const char* userAgent) {
    const InHost inHost;
    StandIn_HttpRequest request{};
    request.kind = StandIn_Get;
    request.host = host;
    request.port = port;
    request.path = path;
    request.timeout = timeout;
    request.hostContext = hostContext;
    request.progress = progress;
    request.header = header;
    request.body = body;
    request.referer = referer;
    request.userAgent = userAgent;
    return Serve(request, answer, answerLength);
}

STANDIN_API int TSI_CALL TSI_HttpProgressPost(char** answer, int32_t* answerLength,
                                              const char* host, int32_t port, const char* path,
                                              const char* header, const char* body, int32_t timeout,
                                              void* progress, void* progressContext) {
    const InHost inHost;
    StandIn_HttpRequest request{};
    request.kind = StandIn_Post;
    request.host = host;
    request.port = port;
    request.path = path;
    request.header = header;
    request.body = body;
    request.timeout = timeout;
    request.progress = progress;
    request.progressContext = progressContext;
    return Serve(request, answer, answerLength);
}

}  // extern "C"
