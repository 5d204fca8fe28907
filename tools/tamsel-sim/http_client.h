// The stand-in host's own HTTP client: what it uses to carry the plug-in's
// requests over the network. cpp-httplib on Linux, WinHTTP on Windows.
#pragma once

#include <string>
#include <vector>

namespace norrow::sim {

struct HttpExchange {
    bool post = false;
    std::string host;
    int port = 80;
    std::string path;    // with the query
    std::string header;  // extra header lines, CR LF between them
    std::string body;
    std::string userAgent;
    int timeoutMs = 20000;
};

struct HttpResponse {
    int status = 0;  // 0: no answer at all
    std::string body;
    std::string error;  // why there is no answer
};

HttpResponse Send(const HttpExchange& exchange);

// The header lines of `header` as name and value ("Name: value"), without
// Content-Length, which both clients count themselves.
struct HeaderLine {
    std::string name, value;
};
std::vector<HeaderLine> HeaderLines(const std::string& header);

}  // namespace norrow::sim
