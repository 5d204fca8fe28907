#include "tamsel-sim/desktop.h"

#include <cstdio>
#include <mutex>

#include "platform/os.h"
#include "platform/recode.h"
#include "standin.h"

#if NORROW_OS_WINDOWS
#include <windows.h>
#endif

namespace norrow::sim {

void DrawBox(const ShownBox& box) {
    const char* kind = box.type == 16 ? "stop" : box.type == 64 ? "information" : "message";
    std::fprintf(stderr, "+-- message box (%s) --\n", kind);
    size_t start = 0;
    while (start <= box.text.size()) {
        size_t end = box.text.find('\n', start);
        if (end == std::string::npos) end = box.text.size();
        std::fprintf(stderr, "| %s\n", box.text.substr(start, end - start).c_str());
        start = end + 1;
    }
    std::fprintf(stderr, "+------------------------------ [ OK ]\n");
}

#if NORROW_OS_LINUX

struct Desktop::State {
    std::mutex mutex;
    std::vector<ShownBox> boxes;
};

namespace {

int ShowBox(void* context, const char* text, unsigned type) {
    auto* state = static_cast<Desktop::State*>(context);
    ShownBox box{type, platform::Utf8FromShiftJis(text)};
    DrawBox(box);
    std::lock_guard<std::mutex> lock(state->mutex);
    state->boxes.push_back(std::move(box));
    return 1;  // OK
}

}  // namespace

Desktop::Desktop() : state_(new State) { StandIn_SetMessageBoxHandler(ShowBox, state_.get()); }

Desktop::~Desktop() { StandIn_SetMessageBoxHandler(nullptr, nullptr); }

std::vector<ShownBox> Desktop::Boxes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->boxes;
}

#endif  // NORROW_OS_LINUX

#if NORROW_OS_WINDOWS

// The plug-in's boxes are real windows of this process, opened on the thread
// that calls the plug-in: the stand-in host's hook on that thread hands over
// each dialog box once it has its text, which is read with its icon before
// the hook presses OK. (A watcher thread polling for boxes would do too, but
// a second thread busy with windows crashes Wine under emulation.)
struct Desktop::State {
    std::vector<ShownBox> boxes;
};

namespace {

constexpr int kTextControl = 0xFFFF;            // the static that holds the message
constexpr int kIconControls[] = {0x14, 0x440};  // the icon: Windows, Wine

unsigned BoxType(HWND box) {
    const HICON stop = LoadIconA(nullptr, IDI_HAND);
    const HICON information = LoadIconA(nullptr, IDI_ASTERISK);
    for (int control : kIconControls) {
        const auto icon =
            reinterpret_cast<HICON>(SendDlgItemMessageA(box, control, STM_GETICON, 0, 0));
        if (icon == nullptr) continue;
        if (icon == stop) return 16;
        if (icon == information) return 64;
    }
    return 0;
}

// Records what the box shows and draws it.
void ShowBox(void* context, void* window) {
    const auto box = static_cast<HWND>(window);
    char text[8192] = "";
    GetDlgItemTextA(box, kTextControl, text, sizeof text);
    ShownBox shown{BoxType(box), platform::Utf8FromShiftJis(text)};
    DrawBox(shown);
    static_cast<Desktop::State*>(context)->boxes.push_back(std::move(shown));
}

}  // namespace

// Made on the thread that calls the plug-in; one desktop at a time.
Desktop::Desktop() : state_(new State) { StandIn_AnswerBoxes(ShowBox, state_.get()); }

Desktop::~Desktop() { StandIn_StopAnsweringBoxes(); }

std::vector<ShownBox> Desktop::Boxes() const { return state_->boxes; }

#endif  // NORROW_OS_WINDOWS

}  // namespace norrow::sim
