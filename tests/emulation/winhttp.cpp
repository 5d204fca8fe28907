// Under Wine on qemu-user: WinHTTP requests on keep-alive connections, as a
// host's HTTP functions make them, with pauses between them.
//   winhttp.exe PORT REQUESTS PAUSE-MS [close]
// GETs http://127.0.0.1:PORT/ REQUESTS times through one session, pausing
// PAUSE-MS after each; with "close", keep-alive is switched off, so that no
// connection is kept for the next request. Prints "ok" and exits 0 when every
// request got status 200.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const INTERNET_PORT port = static_cast<INTERNET_PORT>(atoi(argv[1]));
    const int requests = atoi(argv[2]);
    const DWORD pause = static_cast<DWORD>(atoi(argv[3]));
    const bool close = argc > 4 && strcmp(argv[4], "close") == 0;
    HINTERNET session = WinHttpOpen(L"repro", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    for (int i = 0; i < requests; ++i) {
        HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", port, 0);
        HINTERNET request = WinHttpOpenRequest(connection, L"GET", L"/", nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
        if (close) {
            DWORD feature = WINHTTP_DISABLE_KEEP_ALIVE;
            WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
        }
        DWORD status = 0, size = sizeof status;
        if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                0, 0) ||
            !WinHttpReceiveResponse(request, nullptr) ||
            !WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                 WINHTTP_NO_HEADER_INDEX) ||
            status != 200) {
            fprintf(stderr, "request %d failed: status %lu, error %lu\n", i, status, GetLastError());
            return 1;
        }
        char buffer[4096];
        DWORD read = 0;
        while (WinHttpReadData(request, buffer, sizeof buffer, &read) && read > 0) {
        }
        WinHttpCloseHandle(request);
        WinHttpCloseHandle(connection);
        Sleep(pause);
    }
    WinHttpCloseHandle(session);
    printf("ok: %d requests, %lu ms apart%s\n", requests, pause, close ? ", no keep-alive" : "");
    fflush(stdout);
    return 0;
}
