#include "platform/os.h"

#if NORROW_OS_LINUX

#include <httplib.h>

#include <chrono>
#include <thread>

#include "services/services.h"

namespace norrow::tools {

struct StandInServices::Server {
    httplib::Server http;
    std::thread thread;
    int port = -1;
};

StandInServices::StandInServices(const Gazetteer& gazetteer) : server_(new Server) {
    httplib::Server& http = server_->http;
    auto reply = [](httplib::Response& response, const HttpAnswer& answer) {
        response.status = answer.status;
        response.set_content(answer.body, answer.contentType.c_str());
    };
    http.Post("/norrow/downloadinfo.php",
              [this, reply](const httplib::Request& request, httplib::Response& response) {
                  std::map<std::string, std::string> fields;
                  if (request.is_multipart_form_data()) {
                      for (const auto& [name, file] : request.files) fields[name] = file.content;
                  }
                  reply(response, AnswerServerInfo(fields, server_->port));
              });
    http.Get(".*",
             [&gazetteer, reply](const httplib::Request& request, httplib::Response& response) {
                 reply(response, AnswerSearch(request.target, gazetteer));
             });
}

StandInServices::~StandInServices() { Stop(); }

int StandInServices::Start(int port) {
    Server& server = *server_;
    if (port == 0) {
        server.port = server.http.bind_to_any_port("127.0.0.1");
    } else {
        server.port = server.http.bind_to_port("127.0.0.1", port) ? port : -1;
    }
    if (server.port < 0) return -1;
    server.thread = std::thread([&server] { server.http.listen_after_bind(); });
    while (!server.http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return server.port;
}

void StandInServices::Stop() {
    if (!server_->thread.joinable()) return;
    server_->http.stop();
    server_->thread.join();
}

}  // namespace norrow::tools

#endif  // NORROW_OS_LINUX
