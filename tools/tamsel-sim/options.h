// The command line of tamsel-sim (a contract: tests and scripts rely on it).
#pragma once

#include <string>
#include <vector>

namespace norrow::sim {

struct Route {
    std::string fromHost;
    int fromPort = 0;
    std::string toHost;
    int toPort = 0;
};

struct Options {
    std::string command;  // "search", "about" or "services"
    std::string query;    // UTF-8, as typed
    std::string plugin;   // empty: the one beside the program
    bool address = true;  // the targets the request names
    bool local = false;
    bool hasBox = false;
    double west = 0, south = 0, east = 0, north = 0;
    std::vector<std::string> answers;  // files answering search requests in turn
    std::string serverInfo;            // file answering the server-information POST
    bool httpFail = false;
    bool offline = false;
    int hostVersion = 9190;
    std::string profile;  // empty: the default file
    std::vector<Route> routes;
    int repeat = 1;
    bool json = false;
    std::string geojson;
    int port = 0;  // services: 0 picks a free port
};

extern const char kUsage[];

// Reads the arguments after the program name. On a mistake returns false and
// a one-line reason in `error`.
bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error);

}  // namespace norrow::sim
