// The server information: the settings of both web services and the page
// limit, downloaded from the maker's server and kept fresh.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace norrow::serverinfo {

using platform::AnsiString;

// The settings of one web service, as the last endpoint line gave them.
struct ServiceEndpoint {
    AnsiString host;
    AnsiString path;
    AnsiString referer;  // held, read by no search
    AnsiString appid;
    int32_t port = 0;
};

struct ServerInfo {
    ServiceEndpoint geocoder;     // GEOCODER lines; the address search
    ServiceEndpoint localSearch;  // LOCALSEARCH lines; the local search
    int32_t maxPage = 1;          // MAXPAGE: pages one search may fetch
    int32_t ServerInfoAt = 0;     // last download attempt; kept in the host profile
    int32_t lastAttemptAt = 0;    // last download attempt of this process
    bool attempted = false;       // whether this process has tried at all
    int valid = 0;                // a complete answer with an endpoint was read
};

// The one instance of the process.
extern ServerInfo serverInfo;

// Where and how the server information is asked for. The host is the build's
// setting NORROW_SERVERINFO_HOST.
constexpr char kServerInfoHost[] = NORROW_SERVERINFO_HOST;
constexpr int32_t kServerInfoPort = 80;
constexpr char kServerInfoPath[] = "/norrow/downloadinfo.php";
constexpr int32_t kServerInfoTimeout = 40000;
constexpr int32_t kFreshSeconds = 43200;  // 12 hours
constexpr int32_t kRetrySeconds = 30;

// The header lines and the multipart/form-data body of the request.
struct ServerInfoRequest {
    AnsiString header;
    AnsiString body;
};
ServerInfoRequest MakeServerInfoRequest();

// Makes sure usable server information is at hand, downloading it when it is
// missing or stale and the host is online. Returns 1 when a search may go on,
// 0 when not. Shows the server's USER_MESSAGE, if any.
int FetchServerInfo();

// Reads a server-information answer of `length` bytes (none when length <= 0)
// into `info`: endpoints, MAXPAGE and `valid`. Leaves the text of the last
// USER_MESSAGE line, with "_" turned into line breaks, in `userMessage`.
void ParseServerInfo(const char* answer, int32_t length, ServerInfo& info, AnsiString& userMessage);

// later - earlier in seconds, right across the wrap of 32-bit time.
int32_t SecondsBetween(int32_t earlier, int32_t later);

}  // namespace norrow::serverinfo
