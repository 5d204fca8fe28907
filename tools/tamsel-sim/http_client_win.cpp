#include "platform/os.h"

#if NORROW_OS_WINDOWS

#include <windows.h>
#include <winhttp.h>

#include <map>
#include <memory>

#include "tamsel-sim/http_client.h"

namespace norrow::sim {
namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], units);
    return wide;
}

// The header lines as WinHTTP takes them, without Content-Length.
std::string RequestHeader(const std::string& header) {
    std::string lines;
    for (const HeaderLine& line : HeaderLines(header))
        lines += line.name + ": " + line.value + "\r\n";
    return lines;
}

struct Handle {
    explicit Handle(HINTERNET h) : handle(h) {}
    ~Handle() {
        if (handle != nullptr) WinHttpCloseHandle(handle);
    }
    HINTERNET handle;
};

std::string LastError(const char* step) {
    return std::string(step) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// One WinHTTP session for each user agent, kept for the life of the program,
// as a host keeps its own: a session per request would start and end WinHTTP's
// worker thread and load and unload its libraries every time. Calls come from
// one thread at a time.
HINTERNET SessionFor(const std::string& userAgent) {
    static std::map<std::string, HINTERNET> sessions;
    HINTERNET& session = sessions[userAgent];
    if (session == nullptr)
        session = WinHttpOpen(Wide(userAgent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    return session;
}

}  // namespace

HttpResponse Send(const HttpExchange& exchange) {
    HttpResponse response;
    HINTERNET session = SessionFor(exchange.userAgent);
    if (session == nullptr) return response.error = LastError("WinHttpOpen"), response;
    Handle connection(WinHttpConnect(session, Wide(exchange.host).c_str(),
                                     static_cast<INTERNET_PORT>(exchange.port), 0));
    if (connection.handle == nullptr) return response.error = LastError("WinHttpConnect"), response;
    Handle request(WinHttpOpenRequest(connection.handle, exchange.post ? L"POST" : L"GET",
                                      Wide(exchange.path).c_str(), nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (request.handle == nullptr)
        return response.error = LastError("WinHttpOpenRequest"), response;
    // The name is resolved on this thread (no time limit, which would put the
    // lookup on a pool thread of its own); connecting, sending and receiving
    // keep the plug-in's time limit.
    WinHttpSetTimeouts(request.handle, 0, exchange.timeoutMs, exchange.timeoutMs,
                       exchange.timeoutMs);
    const std::wstring header = Wide(RequestHeader(exchange.header));
    const DWORD bodyLength = static_cast<DWORD>(exchange.body.size());
    if (!WinHttpSendRequest(
            request.handle, header.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : header.c_str(),
            header.empty() ? 0 : static_cast<DWORD>(-1L),
            bodyLength ? const_cast<char*>(exchange.body.data()) : WINHTTP_NO_REQUEST_DATA,
            bodyLength, bodyLength, 0) ||
        !WinHttpReceiveResponse(request.handle, nullptr)) {
        return response.error = LastError("sending the request"), response;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.handle, &available) || available == 0) break;
        const size_t before = response.body.size();
        response.body.resize(before + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.handle, &response.body[before], available, &read)) break;
        response.body.resize(before + read);
    }
    response.status = static_cast<int>(status);
    return response;
}

}  // namespace norrow::sim

#endif  // NORROW_OS_WINDOWS
