#include "platform/os.h"

#if NORROW_OS_LINUX

#include <httplib.h>

#include "tamsel-sim/http_client.h"

namespace norrow::sim {

HttpResponse Send(const HttpExchange& exchange) {
    httplib::Client client(exchange.host, exchange.port);
    const time_t seconds = exchange.timeoutMs / 1000;
    const time_t micros = (exchange.timeoutMs % 1000) * 1000;
    client.set_connection_timeout(seconds, micros);
    client.set_read_timeout(seconds, micros);
    client.set_write_timeout(seconds, micros);
    std::string contentType = "application/octet-stream";
    httplib::Headers headers;
    for (HeaderLine& line : HeaderLines(exchange.header)) {
        if (line.name == "Content-Type") {
            contentType = line.value;
        } else {
            headers.emplace(std::move(line.name), std::move(line.value));
        }
    }
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
