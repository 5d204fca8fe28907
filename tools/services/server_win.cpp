#include "platform/os.h"

#if NORROW_OS_WINDOWS

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <thread>

#include "services/services.h"

namespace norrow::tools {
namespace {

constexpr size_t kMaxRequest = 1 << 20;

struct Request {
    std::string method, target, contentType, body;
};

std::string HeaderValue(const std::string& head, const std::string& name) {
    size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (_strnicmp(head.c_str() + at, name.c_str(), name.size()) == 0 &&
            head.compare(at + name.size(), 1, ":") == 0) {
            const size_t start = head.find_first_not_of(' ', at + name.size() + 1);
            return head.substr(start, head.find("\r\n", start) - start);
        }
    }
    return {};
}

bool ReadRequest(SOCKET client, Request& request) {
    std::string data;
    char chunk[4096];
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const int got = recv(client, chunk, sizeof chunk, 0);
        if (got <= 0 || data.size() > kMaxRequest) return false;
        data.append(chunk, static_cast<size_t>(got));
    }
    const std::string head = data.substr(0, headEnd);
    const size_t space = head.find(' ');
    request.method = head.substr(0, space);
    request.target = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
    request.contentType = HeaderValue(head, "Content-Type");
    const size_t length = std::strtoul(HeaderValue(head, "Content-Length").c_str(), nullptr, 10);
    if (length > kMaxRequest) return false;
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < length) {
        const int got = recv(client, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        request.body.append(chunk, static_cast<size_t>(got));
    }
    request.body.resize(length);
    return true;
}

// The fields of a multipart/form-data body: name -> content.
std::map<std::string, std::string> FormFields(const std::string& contentType,
                                              const std::string& body) {
    std::map<std::string, std::string> fields;
    const size_t at = contentType.find("boundary=");
    if (contentType.compare(0, 19, "multipart/form-data") != 0 || at == std::string::npos)
        return fields;
    const std::string delimiter = "--" + contentType.substr(at + 9);
    size_t part = body.find(delimiter);
    while (part != std::string::npos) {
        const size_t start = part + delimiter.size() + 2;  // behind CR LF
        const size_t next = body.find("\r\n" + delimiter, start);
        if (next == std::string::npos || body.compare(part + delimiter.size(), 2, "--") == 0) break;
        const std::string text = body.substr(start, next - start);
        const size_t blank = text.find("\r\n\r\n");
        const size_t name = text.find("name=\"");
        if (blank != std::string::npos && name != std::string::npos && name < blank) {
            const size_t end = text.find('"', name + 6);
            fields[text.substr(name + 6, end - name - 6)] = text.substr(blank + 4);
        }
        part = next + 2;
    }
    return fields;
}

void Respond(SOCKET client, const HttpAnswer& answer) {
    const char* reason = answer.status == 200   ? "OK"
                         : answer.status == 401 ? "Unauthorized"
                         : answer.status == 403 ? "Forbidden"
                                                : "Not Found";
    const std::string message = "HTTP/1.1 " + std::to_string(answer.status) + " " + reason +
                                "\r\nContent-Type: " + answer.contentType +
                                "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                                "\r\nConnection: close\r\n\r\n" + answer.body;
    send(client, message.data(), static_cast<int>(message.size()), 0);
}

}  // namespace

struct StandInServices::Server {
    const Gazetteer* gazetteer;
    SOCKET listener = INVALID_SOCKET;
    std::thread thread;
    std::atomic<bool> stop{false};
    int port = -1;

    void Serve() {
        while (!stop) {
            SOCKET client = accept(listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) continue;
            Request request;
            if (ReadRequest(client, request)) {
                if (request.method == "POST" && request.target == "/norrow/downloadinfo.php") {
                    Respond(client,
                            AnswerServerInfo(FormFields(request.contentType, request.body), port));
                } else {
                    Respond(client, AnswerSearch(request.target, *gazetteer));
                }
            }
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }
};

StandInServices::StandInServices(const Gazetteer& gazetteer) : server_(new Server) {
    server_->gazetteer = &gazetteer;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

StandInServices::~StandInServices() {
    Stop();
    WSACleanup();
}

int StandInServices::Start(int port) {
    Server& server = *server_;
    server.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (server.listener == INVALID_SOCKET ||
        bind(server.listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(server.listener, 16) != 0 ||
        getsockname(server.listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    server.port = ntohs(address.sin_port);
    server.thread = std::thread([&server] { server.Serve(); });
    return server.port;
}

void StandInServices::Stop() {
    Server& server = *server_;
    if (!server.thread.joinable()) return;
    server.stop = true;
    closesocket(server.listener);  // ends the waiting accept
    server.thread.join();
}

}  // namespace norrow::tools

#endif  // NORROW_OS_WINDOWS
