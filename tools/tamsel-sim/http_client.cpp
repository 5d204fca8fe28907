#include "tamsel-sim/http_client.h"

namespace norrow::sim {

std::vector<HeaderLine> HeaderLines(const std::string& header) {
    std::vector<HeaderLine> lines;
    size_t start = 0;
    while (start < header.size()) {
        size_t end = header.find("\r\n", start);
        if (end == std::string::npos) end = header.size();
        const std::string line = header.substr(start, end - start);
        start = end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const size_t valueStart = line.find_first_not_of(' ', colon + 1);
        HeaderLine parsed{line.substr(0, colon),
                          valueStart == std::string::npos ? "" : line.substr(valueStart)};
        if (parsed.name != "Content-Length") lines.push_back(std::move(parsed));
    }
    return lines;
}

}  // namespace norrow::sim
