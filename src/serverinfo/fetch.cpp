#include "contract/host_buffer.h"
#include "contract/plugin_interface.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"

namespace norrow::serverinfo {

ServerInfo serverInfo;

namespace {

constexpr char kBoundary[] = "kiritori";
constexpr char kVersionField[] = "version";
constexpr char kVersionValue[] = "1000";

}  // namespace

int32_t SecondsBetween(int32_t earlier, int32_t later) {
    return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

ServerInfoRequest MakeServerInfoRequest() {
    ServerInfoRequest request;
    const AnsiString boundary = kBoundary;
    request.body = "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"" +
                   kVersionField + "\"\r\n" + "\r\n" + kVersionValue + "\r\n" + "--" + boundary +
                   "--\r\n";
    request.header = "Content-Length: " + std::to_string(request.body.size()) + "\r\n" +
                     "Content-Type: multipart/form-data; boundary=" + boundary;
    return request;
}

int FetchServerInfo() {
    ServerInfo& info = serverInfo;
    const int32_t now = platform::System().now();
    if (SecondsBetween(info.ServerInfoAt, now) > kFreshSeconds) {
        info.valid = 0;
    } else if (info.valid) {
        return 1;
    }
    if (!TSI_IsOnline()) return 1;
    // The first attempt of a process is never held back, whatever the clock says.
    if (info.attempted && SecondsBetween(info.lastAttemptAt, now) < kRetrySeconds) return 0;

    const ServerInfoRequest request = MakeServerInfoRequest();
    char* answer = nullptr;
    int32_t length = 0;
    const int failed = TSI_HttpProgressPost(
        &answer, &length, kServerInfoHost, kServerInfoPort, kServerInfoPath, request.header.c_str(),
        request.body.c_str(), kServerInfoTimeout, nullptr, nullptr);
    const int32_t attemptedAt = platform::System().now();
    info.ServerInfoAt = attemptedAt;
    info.lastAttemptAt = attemptedAt;
    info.attempted = true;
    if (failed != 0) return 0;  // no answer to release

    AnsiString userMessage;
    {
        contract::HostBuffer owned(answer);
        ParseServerInfo(answer, length, info, userMessage);
    }
    if (!userMessage.empty()) {
        platform::System().messageBox(userMessage.c_str(), platform::kBoxInformation);
    }
    return info.valid;
}

}  // namespace norrow::serverinfo
