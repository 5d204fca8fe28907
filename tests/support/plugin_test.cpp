#include "support/plugin_test.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>

#include "contract/plugin_interface.h"
#include "platform/os.h"
#include "platform/platform.h"
#include "platform/recode.h"
#include "plugin/entry.h"
#include "results/search_results.h"
#include "search/page_search.h"
#include "support/failing_allocator.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#endif
#include "serverinfo/server_info.h"

namespace norrow::test {
namespace {

int32_t fakeNow = 0;
int boxAnswer = platform::kButtonOk;
std::vector<CapturedBox> boxes;

int32_t FakeNow() { return fakeNow; }

// Like a real message box, never throws, even when memory runs out. What it
// keeps is the host's memory.
int CaptureBox(const char* text, unsigned type) {
    const HostAllocations hostSide;
    try {
        boxes.push_back({text, type});
    } catch (const std::bad_alloc&) {
        boxes.clear();  // the test sees that something went missing
    }
    return boxAnswer;
}

}  // namespace

void PluginTest::SetUp() {
    StandIn_Reset();
    ResetPluginState();
    fakeNow = 1800000000;  // 2027-01-15
    boxAnswer = platform::kButtonOk;
    boxes.clear();
    platform::System().now = FakeNow;
    platform::System().messageBox = CaptureBox;
}

void PluginTest::TearDown() {
    platform::System() = platform::NativeSystem();
}

void PluginTest::SetNow(int32_t seconds) { fakeNow = seconds; }
const std::vector<CapturedBox>& PluginTest::Boxes() { return boxes; }
void PluginTest::SetBoxAnswer(int button) { boxAnswer = button; }

std::vector<const StandIn_Call*> PluginTest::Calls(int function) {
    std::vector<const StandIn_Call*> found;
    for (int i = 0; i < StandIn_CallCount(); ++i) {
        const StandIn_Call* call = StandIn_GetCall(i);
        if (call->function == function) found.push_back(call);
    }
    return found;
}

void PluginTest::QueueReply(int kind, int result, const std::string& bytes) {
    StandIn_HttpReply reply{};
    reply.result = result;
    reply.bytes = bytes.data();
    reply.length = static_cast<int32_t>(bytes.size());
    StandIn_QueueReply(kind, &reply);
}

void ResetPluginState() {
    serverinfo::serverInfo = serverinfo::ServerInfo();
    plugin::pluginHandle = 0;
    search::geocoderTargetId = 0;
    search::localTargetId = 0;
    results::ResetSearchResults();
    results::searchResults.growBy = 0;
}

std::string Sjis(const std::string& utf8) { return platform::ShiftJisFromUtf8(utf8); }

std::string LocalPath(const std::string& path) {
#if NORROW_OS_WINDOWS
    return "Z:" + path;
#else
    return path;
#endif
}

std::string DataPath(const std::string& name) {
    return LocalPath(std::string(NORROW_TEST_DATA) + "/" + name);
}

std::string ReadDataFile(const std::string& name) {
    std::ifstream in(DataPath(name), std::ios::binary);
    if (!in) throw std::runtime_error("missing test data: " + name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#if NORROW_OS_WINDOWS
namespace {

HWND boxHost = nullptr;
SeenBox lastBox;

// Notes what the box shows; the stand-in host presses its OK.
void NoteBox(void*, void* window) {
    const auto box = static_cast<HWND>(window);
    lastBox.found = true;
    lastBox.hostEnabled = IsWindowEnabled(boxHost) != FALSE;
    lastBox.owner = GetWindow(box, GW_OWNER);
    GetDlgItemTextA(box, 0xFFFF, lastBox.text, sizeof lastBox.text);  // the message's static
}

}  // namespace

AnsweredBoxes::AnsweredBoxes(void* host) {
    lastBox = SeenBox();
    boxHost = static_cast<HWND>(host);
    StandIn_AnswerBoxes(NoteBox, nullptr);
}

AnsweredBoxes::~AnsweredBoxes() { StandIn_StopAnsweringBoxes(); }

const SeenBox& AnsweredBoxes::Last() const { return lastBox; }
#endif

}  // namespace norrow::test
