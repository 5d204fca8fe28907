#include "tamsel-sim/answerer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tamsel-sim/http_client.h"

namespace norrow::sim {
namespace {

// What answers the plug-in's requests when --answer is given without
// --server-info: both services, three pages.
constexpr char kBuiltInServerInfo[] =
    "SERVERINFO\r\n"
    "GEOCODER answers.invalid,/geocoder,,80,fixture\r\n"
    "LOCALSEARCH answers.invalid,/localsearch,,80,fixture\r\n"
    "MAXPAGE 3\r\n";

bool ReadFile(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// `bytes` must outlive the reply: the host copies it after we return.
int Deliver(const std::string& bytes, StandIn_HttpReply& reply) {
    reply.result = 0;
    reply.bytes = bytes.data();
    reply.length = static_cast<int32_t>(bytes.size());
    return 0;
}

}  // namespace

Answerer::Answerer() : serverInfo(kBuiltInServerInfo) {}

bool Answerer::Prepare(const Options& options, std::string& error) {
    for (const std::string& file : options.answers) {
        answers.emplace_back();
        if (!ReadFile(file, answers.back(), error)) return false;
    }
    if (!options.serverInfo.empty()) {
        serverInfo.clear();
        if (!ReadFile(options.serverInfo, serverInfo, error)) return false;
        hasServerInfo = true;
    }
    mode = options.httpFail ? kFail : options.answers.empty() ? kNetwork : kFiles;
    routes = options.routes;
    return true;
}

int Answerer::Handle(void* context, const StandIn_HttpRequest* request, StandIn_HttpReply* reply) {
    return static_cast<Answerer*>(context)->Answer(*request, *reply);
}

int Answerer::Answer(const StandIn_HttpRequest& request, StandIn_HttpReply& reply) {
    reply = StandIn_HttpReply{};
    if (mode == kFail) {
        reply.result = 1;
        return 0;
    }
    if (request.kind == StandIn_Post && (hasServerInfo || mode == kFiles)) {
        return Deliver(serverInfo, reply);
    }
    if (mode == kFiles) {
        const std::string& answer = answers[std::min(nextAnswer_, answers.size() - 1)];
        ++nextAnswer_;
        return Deliver(answer, reply);
    }
    HttpExchange exchange;
    exchange.post = request.kind == StandIn_Post;
    exchange.host = request.host != nullptr ? request.host : "";
    exchange.port = request.port;
    for (const Route& route : routes) {
        if (route.fromHost == exchange.host && route.fromPort == exchange.port) {
            exchange.host = route.toHost;
            exchange.port = route.toPort;
            break;
        }
    }
    exchange.path = request.path != nullptr ? request.path : "";
    exchange.header = request.header != nullptr ? request.header : "";
    exchange.body = request.body != nullptr ? request.body : "";
    exchange.userAgent = request.userAgent != nullptr ? request.userAgent : "";
    exchange.timeoutMs = request.timeout;
    HttpResponse response = Send(exchange);
    if (response.status == 0) {
        reply.result = 1;  // no connection
        return 0;
    }
    network_ = std::move(response.body);
    reply.bytes = network_.data();
    reply.length = static_cast<int32_t>(network_.size());
    // Only a 2xx answer counts as one; the body of any other still reaches the plug-in.
    reply.result = response.status / 100 == 2 ? 0 : response.status;
    return 0;
}

}  // namespace norrow::sim
