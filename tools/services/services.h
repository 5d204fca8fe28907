// The stand-in web services: the maker's server-information server and the
// two search APIs, answering as the real ones do, over HTTP on loopback.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "services/gazetteer.h"

namespace norrow::tools {

// The paths and the application id the services hand out and expect.
constexpr char kGeocoderPath[] = "/v1/geocoder";
constexpr char kLocalSearchPath[] = "/v1/localsearch";
constexpr char kServicesAppid[] = "norrow-demo";
constexpr int kServicesMaxPage = 3;

struct HttpAnswer {
    int status = 200;
    std::string contentType;
    std::string body;
};

// The server-information POST, given the fields of its multipart/form-data
// body: one numeric "version" field gets the SERVERINFO text that points both
// services at 127.0.0.1:port; anything else is DENIED.
HttpAnswer AnswerServerInfo(const std::map<std::string, std::string>& formFields, int port);

// A search GET, given its target ("path?query" as sent). The query is read as
// Shift-JIS with ei=SJIS, else as UTF-8; bbox, start, result and datum are
// honoured. A missing appid gets 401, a wrong one 403.
HttpAnswer AnswerSearch(std::string_view target, const Gazetteer& gazetteer);

// The query parameters of a target, percent-decoded ("+" is a blank).
std::map<std::string, std::string> QueryParameters(std::string_view target);

// Serves all three over HTTP on 127.0.0.1 in a thread of its own.
class StandInServices {
public:
    explicit StandInServices(const Gazetteer& gazetteer);
    ~StandInServices();
    // Starts listening on `port` (0: any free port). Returns the port, or -1.
    int Start(int port);
    void Stop();

private:
    struct Server;
    std::unique_ptr<Server> server_;
};

}  // namespace norrow::tools
