// Any answer: the parser agrees with a second, plainly written reading of the
// rules, and reads nothing outside the answer.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "serverinfo/server_info.h"

namespace {

using norrow::serverinfo::ServerInfo;
using norrow::serverinfo::ServiceEndpoint;

bool SameKey(const std::string& key, const char* name) {
    if (key.size() != std::strlen(name)) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        const char c = key[i] >= 'a' && key[i] <= 'z' ? static_cast<char>(key[i] - 32) : key[i];
        if (c != name[i]) return false;
    }
    return true;
}

int32_t Atoi(const std::string& text) {
    const long long value =
        std::strtoll(text.c_str(), nullptr, 10);  // saturates at the long long limits
    return value > INT32_MAX   ? INT32_MAX
           : value < INT32_MIN ? INT32_MIN
                               : static_cast<int32_t>(value);
}

void Endpoint(std::string value, ServiceEndpoint& e) {
    std::string* members[] = {&e.host, &e.path, &e.referer};
    int taken = 0;
    for (; taken < 4; ++taken) {
        const size_t comma = value.find(',');
        if (comma == std::string::npos) break;
        if (taken < 3) {
            *members[taken] = value.substr(0, comma);
        } else {
            e.port = Atoi(value.substr(0, comma));
        }
        value.erase(0, comma + 1);
    }
    e.appid = value;
}

// The rules, read again: lines of at most 1023 bytes, a C string each.
void Model(const std::string& answer, ServerInfo& info, std::string& message) {
    info.valid = 0;
    bool endpoint = false;
    for (size_t pos = 0, number = 1; pos < answer.size(); ++number) {
        std::string line = answer.substr(pos, 1023);
        line = line.substr(0, line.find('\n'));
        pos += line.size() + 1;
        line = line.c_str();  // up to a NUL
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            line.clear();
        else
            line.erase(0, start);
        const size_t keyEnd = std::min(line.find_first_of(" \t="), line.size());
        const std::string key = line.substr(0, keyEnd);
        const size_t valueStart = line.find_first_not_of(" \t=", keyEnd);
        const std::string value = valueStart == std::string::npos ? "" : line.substr(valueStart);
        auto is = [&key](const char* name) { return SameKey(key, name); };
        if (number == 1) {
            if (!is("SERVERINFO")) return;
        } else if (is("GEOCODER")) {
            Endpoint(value, info.geocoder);
            endpoint = true;
        } else if (is("LOCALSEARCH")) {
            Endpoint(value, info.localSearch);
            endpoint = true;
        } else if (is("MAXPAGE")) {
            info.maxPage = Atoi(value);
        } else if (is("ACCEPT")) {
            if (Atoi(value) == 0) return;
        } else if (is("DENIED")) {
            return;
        } else if (is("USER_MESSAGE")) {
            message = value;
            for (size_t i = 0; i < message.size(); ++i) {
                const auto byte = static_cast<unsigned char>(message[i]);
                if (((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC)) &&
                    i + 1 < message.size()) {
                    ++i;
                } else if (message[i] == '_') {
                    message[i] = '\n';
                }
            }
        }
    }
    info.valid = endpoint ? 1 : 0;
}

bool Same(const ServiceEndpoint& a, const ServiceEndpoint& b) {
    return a.host == b.host && a.path == b.path && a.referer == b.referer && a.appid == b.appid &&
           a.port == b.port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> answer(data, data + size);  // no NUL behind it
    ServerInfo parsed, expected;
    std::string parsedMessage, expectedMessage;
    norrow::serverinfo::ParseServerInfo(answer.data(), static_cast<int32_t>(answer.size()), parsed,
                                        parsedMessage);
    Model(std::string(answer.begin(), answer.end()), expected, expectedMessage);
    FUZZ_CHECK(parsed.valid == expected.valid);
    FUZZ_CHECK(Same(parsed.geocoder, expected.geocoder));
    FUZZ_CHECK(Same(parsed.localSearch, expected.localSearch));
    FUZZ_CHECK(parsed.maxPage == expected.maxPage);
    FUZZ_CHECK(parsedMessage == expectedMessage);
    return 0;
}
