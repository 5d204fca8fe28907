// Answers the stand-in host's HTTP requests during a run: from files given on
// the command line, over the network through the routes, or not at all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "standin.h"
#include "tamsel-sim/options.h"

namespace norrow::sim {

class Answerer {
public:
    enum Mode { kFiles, kNetwork, kFail };

    Answerer();

    // Reads the answer files and the server information of `options` and
    // takes its mode and routes. False, with a reason, when a file is unreadable.
    bool Prepare(const Options& options, std::string& error);

    Mode mode = kNetwork;
    std::vector<std::string> answers;  // kFiles: the i-th GET gets the i-th, then the last
    std::string serverInfo;            // the POST's answer in kFiles mode
    bool hasServerInfo = false;        // given by the user: for every mode
    std::vector<Route> routes;

    // A StandIn_HttpHandler; `context` is the Answerer.
    static int Handle(void* context, const StandIn_HttpRequest* request, StandIn_HttpReply* reply);

private:
    int Answer(const StandIn_HttpRequest& request, StandIn_HttpReply& reply);

    size_t nextAnswer_ = 0;
    std::string network_;  // the last answer from the network, until the host copies it
};

}  // namespace norrow::sim
