#include "tamsel-sim/options.h"

#include <cstdint>
#include <cstdlib>

#include "services/gazetteer.h"

namespace norrow::sim {

const char kUsage[] =
    "usage: tamsel-sim [options] search QUERY | about | services [--port N]\n"
    "options:\n"
    "  --plugin PATH            the plug-in to load (default: beside this program)\n"
    "  --target address|local|both   the search targets the request names (default address)\n"
    "  --bbox W,S,E,N           search inside this box\n"
    "  --answer FILE            answer the i-th search request with FILE (repeatable)\n"
    "  --server-info FILE       answer the server-information request with FILE\n"
    "  --http-fail              every HTTP request of the host fails\n"
    "  --offline                the host is offline\n"
    "  --host-version N         the version the host reports (default 9190)\n"
    "  --profile FILE           where the host keeps ServerInfoAt between runs\n"
    "  --route NAME:PORT=ADDR:PORT   send requests for NAME:PORT to ADDR:PORT\n"
    "  --repeat N               run the search N times in one process\n"
    "  --json                   print one JSON document instead of the table\n"
    "  --geojson FILE           also write the hits as GeoJSON\n";

namespace {

bool ReadInt(const std::string& text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < -2147483647L || parsed > 2147483647L) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ReadNumber(const std::string& option, const std::string& text, int low, int high, int& out,
                std::string& error) {
    int number = 0;
    if (!ReadInt(text, number) || number < low || number > high) {
        error = option + " takes a number from " + std::to_string(low) + " to " +
                std::to_string(high) + ", not '" + text + "'";
        return false;
    }
    out = number;
    return true;
}

bool ReadHostPort(const std::string& text, std::string& host, int& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = text.substr(0, colon);
    return ReadInt(text.substr(colon + 1), port) && port > 0 && port < 65536;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= arguments.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = arguments[++i];
            return true;
        };
        std::string text;
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--http-fail") {
            options.httpFail = true;
        } else if (arg == "--offline") {
            options.offline = true;
        } else if (arg == "--plugin") {
            if (!value(options.plugin)) return false;
        } else if (arg == "--server-info") {
            if (!value(options.serverInfo)) return false;
        } else if (arg == "--profile") {
            if (!value(options.profile)) return false;
        } else if (arg == "--geojson") {
            if (!value(options.geojson)) return false;
        } else if (arg == "--answer") {
            if (!value(text)) return false;
            options.answers.push_back(text);
        } else if (arg == "--target") {
            if (!value(text)) return false;
            if (text != "address" && text != "local" && text != "both") {
                error = "--target takes address, local or both, not '" + text + "'";
                return false;
            }
            options.address = text != "local";
            options.local = text != "address";
        } else if (arg == "--bbox") {
            if (!value(text)) return false;
            tools::Box box{};
            if (!tools::ReadBox(text, tools::BoxParts::kNumbers, box)) {
                error = "--bbox takes four numbers W,S,E,N, not '" + text + "'";
                return false;
            }
            options.hasBox = true;
            options.west = box.west;
            options.south = box.south;
            options.east = box.east;
            options.north = box.north;
        } else if (arg == "--host-version") {
            if (!value(text) ||
                !ReadNumber(arg, text, INT32_MIN + 1, INT32_MAX, options.hostVersion, error))
                return false;
        } else if (arg == "--repeat") {
            if (!value(text) || !ReadNumber(arg, text, 1, 10000000, options.repeat, error))
                return false;
        } else if (arg == "--port") {
            if (!value(text) || !ReadNumber(arg, text, 0, 65535, options.port, error)) return false;
        } else if (arg == "--route") {
            if (!value(text)) return false;
            const size_t equals = text.find('=');
            Route route;
            if (equals == std::string::npos ||
                !ReadHostPort(text.substr(0, equals), route.fromHost, route.fromPort) ||
                !ReadHostPort(text.substr(equals + 1), route.toHost, route.toPort)) {
                error = "--route takes NAME:PORT=ADDR:PORT, not '" + text + "'";
                return false;
            }
            options.routes.push_back(route);
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty()) {
        error = "no command given";
        return false;
    }
    options.command = positional[0];
    if (options.command == "search") {
        if (positional.size() != 2) {
            error = "search takes one QUERY (quote a query with blanks)";
            return false;
        }
        options.query = positional[1];
    } else if (options.command == "about" || options.command == "services") {
        if (positional.size() != 1) {
            error = options.command + " takes no argument";
            return false;
        }
    } else {
        error = "unknown command '" + options.command + "'";
        return false;
    }
    return true;
}

}  // namespace norrow::sim
