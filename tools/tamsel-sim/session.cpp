#include "tamsel-sim/session.h"

#include <cstring>
#include <memory>

#include "contract/plugin_interface.h"
#include "platform/os.h"
#include "platform/recode.h"
#include "search/search_texts.h"
#include "serverinfo/server_info.h"
#include "services/services.h"
#include "standin.h"
#include "tamsel-sim/answerer.h"
#include "tamsel-sim/plugin_library.h"
#include "tamsel-sim/profile.h"

namespace norrow::sim {
namespace {

constexpr uint32_t kPluginHandle = 0x4E52;  // what this host calls the plug-in

std::string Utf8(const char* sjis) {
    return sjis != nullptr ? platform::Utf8FromShiftJis(sjis) : "";
}

void CollectRecord(Outcome& outcome) {
    for (int i = 0; i < StandIn_CallCount(); ++i) {
        const StandIn_Call& call = *StandIn_GetCall(i);
        switch (call.function) {
            case StandIn_FnSetSearchStatus:
                outcome.status.push_back(Utf8(call.text));
                break;
            case StandIn_FnSetSearchURL:
                outcome.attribution.push_back(Utf8(call.text));
                break;
            case StandIn_FnHttpRequest2:
            case StandIn_FnHttpProgressPost: {
                const StandIn_HttpRequest& http = call.http;
                RequestView view{};
                view.post = http.kind == StandIn_Post;
                view.host = Utf8(http.host);
                view.port = http.port;
                view.path = Utf8(http.path);
                view.userAgent = http.userAgent;
                view.userAgentText = Utf8(http.userAgent);
                view.timeout = http.timeout;
                view.hasHeader = http.header != nullptr;
                view.hasBody = http.body != nullptr;
                view.header = Utf8(http.header);
                view.body = Utf8(http.body);
                outcome.requests.push_back(std::move(view));
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace

bool Outcome::Served() const {
    if (create != 1 || searches.empty()) return false;
    for (const SearchRun& run : searches) {
        if (run.result != 1) return false;
    }
    return true;
}

namespace {

// The hook procedures the plug-in registered, in their order.
std::vector<TSI_HOOKPROC> AddedHooks() {
    std::vector<TSI_HOOKPROC> hooks;
    for (int i = 0; i < StandIn_CallCount(); ++i) {
        const StandIn_Call& call = *StandIn_GetCall(i);
        if (call.function == StandIn_FnAddHook && call.hook.hookProc != nullptr) {
            hooks.push_back(call.hook.hookProc);
        }
    }
    return hooks;
}

// The search targets this host tells apart.
enum class Target { kNone, kAddress, kLocal };

struct Registered {
    Target target = Target::kNone;
    uint32_t id = 0;
};

// The target a name given to TSI_InsertSearchTarget stands for.
Target TargetNamed(const char* name) {
    if (name == nullptr) return Target::kNone;
    if (std::strcmp(name, search::text::kGeocoderName) == 0) return Target::kAddress;
    if (std::strcmp(name, search::text::kLocalName) == 0) return Target::kLocal;
    return Target::kNone;
}

// Sends event 1003 to a hook; returns the target it inserted and the id the
// host gave it (the last one, should it insert more).
Registered RegisterTarget(TSI_HOOKPROC hook) {
    const int before = StandIn_CallCount();
    hook(kEventRegisterTarget, nullptr, nullptr);
    Registered registered;
    for (int i = before; i < StandIn_CallCount(); ++i) {
        const StandIn_Call& call = *StandIn_GetCall(i);
        if (call.function == StandIn_FnInsertSearchTarget) {
            registered = {TargetNamed(call.text), static_cast<uint32_t>(call.result)};
        }
    }
    return registered;
}

// Whether the request names the target of a hook; a hook of neither target never counts.
bool TargetChosen(const Options& options, Target target) {
    return target == Target::kAddress ? options.address
           : target == Target::kLocal ? options.local
                                      : false;
}

// The request as the host fills it; `query` and `targets` must outlive it.
SEARCHREQUEST MakeRequest(const Options& options, const std::string& query,
                          const std::vector<uint32_t>& targets) {
    SEARCHREQUEST request{};
    request.header = 1;
    request.query = query.c_str();
    request.targetCount = static_cast<int32_t>(targets.size());
    request.targetIds = targets.data();
    request.filter1 = kNoFilter;
    request.filter2 = kNoFilter;
    request.hasBox = options.hasBox ? 1 : 0;
    request.box0 = options.east;
    request.box1 = options.west;
    request.box2 = options.north;
    request.box3 = options.south;
    return request;
}

// Load, event 1003 to each hook, the searches, and the hits read through the
// request as the host reads them.
void DriveLoadedPlugin(const PluginLibrary& plugin, const Options& options, Outcome& outcome) {
    outcome.load = plugin.Load();
    const std::vector<TSI_HOOKPROC> hooks = AddedHooks();
    std::vector<Target> targets;
    for (TSI_HOOKPROC hook : hooks) {
        const Registered registered = RegisterTarget(hook);
        targets.push_back(registered.target);
        if (registered.target == Target::kAddress) outcome.addressId = registered.id;
        if (registered.target == Target::kLocal) outcome.localId = registered.id;
    }

    const std::string query = platform::ShiftJisFromUtf8(options.query);
    std::vector<uint32_t> chosen;
    if (options.address) chosen.push_back(outcome.addressId);
    if (options.local) chosen.push_back(outcome.localId);
    SEARCHREQUEST request = MakeRequest(options, query, chosen);

    // The host calls every hook; only those of the chosen targets count.
    for (int round = 0; round < options.repeat; ++round) {
        for (size_t h = 0; h < hooks.size(); ++h) {
            int context = static_cast<int>(h);  // this host's per-hook context
            const int result = hooks[h](kEventSearch, &context, &request);
            if (TargetChosen(options, targets[h])) {
                outcome.searches.push_back(
                    {targets[h] == Target::kAddress ? "address" : "local", result});
            }
        }
    }
    outcome.resultCount = request.resultCount;
    for (int32_t i = 0; request.results != nullptr && i < request.resultCount; ++i) {
        const SEARCHRESULT& hit = request.results[i];
        outcome.hits.push_back({hit.latitude, hit.longitude, Utf8(hit.name), Utf8(hit.address),
                                Utf8(hit.yomi), hit.attribute, hit.targetId});
    }
}

}  // namespace

bool RunSearch(const Options& options, Outcome& outcome, std::string& error) {
    Answerer answerer;
    if (!answerer.Prepare(options, error)) return false;
    StandIn_Reset();
    StandIn_SetVersion(options.hostVersion);
    StandIn_SetOnline(options.offline ? 0 : 1);
    const std::string profile = options.profile.empty() ? DefaultProfilePath() : options.profile;
    LoadProfile(profile);

    // The embedded services stand in for the maker's server and the two web
    // services, unless the run brings answers or server information of its own.
    std::unique_ptr<tools::StandInServices> services;
    if (answerer.mode == Answerer::kNetwork && !answerer.hasServerInfo) {
        services.reset(new tools::StandInServices(tools::Gazetteer::BuiltIn()));
        const int port = services->Start(0);
        if (port < 0) {
            error = "cannot start the stand-in services on 127.0.0.1";
            return false;
        }
        answerer.routes.push_back(
            {serverinfo::kServerInfoHost, serverinfo::kServerInfoPort, "127.0.0.1", port});
    }

    PluginLibrary plugin;
    if (!plugin.Open(options.plugin.empty() ? DefaultPluginPath() : options.plugin, error)) {
        return false;
    }
    StandIn_SetHttpHandler(Answerer::Handle, &answerer);
    Desktop desktop;
    PLUGININFO info{};
    outcome.create = plugin.Create(&info, kPluginHandle);
    if (outcome.create == 1) {
        DriveLoadedPlugin(plugin, options, outcome);
        plugin.Release();
        plugin.Close();
    }
    outcome.boxes = desktop.Boxes();
    CollectRecord(outcome);
    StandIn_SetHttpHandler(nullptr, nullptr);
    outcome.hasProfile = StandIn_GetProfileInt(kProfileKey, &outcome.serverInfoAt) != 0;
    SaveProfile(profile);
    return true;
}

bool RunAbout(const Options& options, AboutOutcome& outcome, std::string& error) {
    PluginLibrary plugin;
    if (!plugin.Open(options.plugin.empty() ? DefaultPluginPath() : options.plugin, error))
        return false;
    Desktop desktop;
    outcome.result = plugin.About();
    outcome.boxes = desktop.Boxes();
    return true;
}

}  // namespace norrow::sim
