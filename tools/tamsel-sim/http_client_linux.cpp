#include "platform/os.h"

#if NORROW_OS_LINUX

#include <httplib.h>

#include "tamsel-sim/http_client.h"

namespace norrow::sim {
namespace {

// "Name: value" lines into headers; the content type is handed on apart.
httplib::Headers ParseHeader(const std::string& text, std::string& contentType) {
    httplib::Headers headers;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            const size_t valueStart = line.find_first_not_of(' ', colon + 1);
            std::string value = valueStart == std::string::npos ? "" : line.substr(valueStart);
            if (name == "Content-Type") {
                contentType = value;
            } else if (name != "Content-Length") {  // the client counts the body itself
                headers.emplace(std::move(name), std::move(value));
            }
        }
        start = end + 2;
    }
    return headers;
}

}  // namespace

HttpResponse Send(const HttpExchange& exchange) {
    httplib::Client client(exchange.host, exchange.port);
    const time_t seconds = exchange.timeoutMs / 1000;
    const time_t micros = (exchange.timeoutMs % 1000) * 1000;
    client.set_connection_timeout(seconds, micros);
    client.set_read_timeout(seconds, micros);
    client.set_write_timeout(seconds, micros);
    std::string contentType = "application/octet-stream";
    httplib::Headers headers = ParseHeader(exchange.header, contentType);
    if (!exchange.userAgent.empty()) headers.emplace("User-Agent", exchange.userAgent);
    const httplib::Result result =
        exchange.post ? client.Post(exchange.path, headers, exchange.body, contentType)
                      : client.Get(exchange.path, headers);
    HttpResponse response;
    if (!result) {
        response.error = httplib::to_string(result.error());
        return response;
    }
    response.status = result->status;
    response.body = result->body;
    return response;
}

}  // namespace norrow::sim

#endif  // NORROW_OS_LINUX
