#include <cstring>
#include <string_view>

#include "platform/numbers.h"
#include "serverinfo/server_info.h"

namespace norrow::serverinfo {
namespace {

constexpr int32_t kLineCapacity = 1023;  // bytes of one line; the rest goes to the next

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int32_t ReadNumber(std::string_view text) { return platform::ReadInt32(text.data(), text.size()); }

// Splits off the text before the first comma into `field`; false (and no
// change) when there is no comma left.
bool TakeField(std::string_view& rest, std::string_view& field) {
    const size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return false;
    field = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
    return true;
}

// host,path,referer,port,appid: fills from the left as far as the commas go;
// whatever remains is the appid.
void ReadEndpoint(std::string_view value, ServiceEndpoint& endpoint) {
    std::string_view field;
    if (TakeField(value, field)) {
        endpoint.host.assign(field);
        if (TakeField(value, field)) {
            endpoint.path.assign(field);
            if (TakeField(value, field)) {
                endpoint.referer.assign(field);
                if (TakeField(value, field)) endpoint.port = ReadNumber(field);
            }
        }
    }
    endpoint.appid.assign(value);
}

// Every "_" becomes a line feed; the second byte of a double-byte character is
// never taken for one.
AnsiString UserMessageFrom(std::string_view value) {
    AnsiString message(value);
    for (size_t i = 0; i < message.size(); ++i) {
        if (platform::IsLeadByte(static_cast<unsigned char>(message[i])) &&
            i + 1 < message.size()) {
            ++i;
        } else if (message[i] == '_') {
            message[i] = '\n';
        }
    }
    return message;
}

struct Line {
    std::string_view key;
    std::string_view value;
};

// Splits one line (without its line feed) into key and value. The line is
// read as a C string: it ends at its first NUL byte.
Line SplitLine(const char* bytes, int32_t length) {
    std::string_view text(bytes, length);
    text = text.substr(0, text.find('\0'));
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    size_t end = start;
    while (end < text.size() && !IsBlank(text[end]) && text[end] != '=') ++end;
    size_t value = end;
    while (value < text.size() && (IsBlank(text[value]) || text[value] == '=')) ++value;
    return {text.substr(start, end - start), text.substr(value)};
}

bool Is(std::string_view key, std::string_view name) {
    return platform::EqualIgnoringCase(key, name);
}

// Applies one line after the first; false when the line stops the reading.
bool ApplyLine(const Line& line, ServerInfo& info, AnsiString& userMessage, bool& endpointSeen) {
    if (Is(line.key, "GEOCODER")) {
        ReadEndpoint(line.value, info.geocoder);
        endpointSeen = true;
    } else if (Is(line.key, "LOCALSEARCH")) {
        ReadEndpoint(line.value, info.localSearch);
        endpointSeen = true;
    } else if (Is(line.key, "MAXPAGE")) {
        info.maxPage = ReadNumber(line.value);
    } else if (Is(line.key, "ACCEPT")) {
        if (ReadNumber(line.value) == 0) return false;
    } else if (Is(line.key, "DENIED")) {
        return false;
    } else if (Is(line.key, "USER_MESSAGE")) {
        userMessage = UserMessageFrom(line.value);
    }
    return true;  // SERVERINFO again, AUTH_MESSAGE and unknown keys change nothing
}

}  // namespace

void ParseServerInfo(const char* answer, int32_t length, ServerInfo& info,
                     AnsiString& userMessage) {
    info.valid = 0;
    if (answer == nullptr) return;
    bool endpointSeen = false;
    bool firstLine = true;
    int64_t position = 0;  // may step one past the end
    while (position < length) {
        const int64_t left = length - position;
        const int32_t reach = left < kLineCapacity ? static_cast<int32_t>(left) : kLineCapacity;
        const void* feed = std::memchr(answer + position, '\n', static_cast<size_t>(reach));
        const int32_t lineLength =
            feed != nullptr
                ? static_cast<int32_t>(static_cast<const char*>(feed) - (answer + position))
                : reach;
        const Line line = SplitLine(answer + position, lineLength);
        // Go on behind the line feed, or behind the byte after a line cut at
        // its capacity (that byte is dropped), or past the end.
        position += lineLength + 1;
        if (firstLine) {
            if (!Is(line.key, "SERVERINFO")) return;
            firstLine = false;
        } else if (!ApplyLine(line, info, userMessage, endpointSeen)) {
            return;
        }
    }
    info.valid = endpointSeen ? 1 : 0;
}

}  // namespace norrow::serverinfo
