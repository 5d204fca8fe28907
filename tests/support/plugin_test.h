// The fixture of every test that drives the plug-in: a fresh stand-in host, a
// fresh plug-in state, a clock the test sets and message boxes it captures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os.h"
#include "standin.h"

namespace norrow::test {

struct CapturedBox {
    std::string text;
    unsigned type;
};

class PluginTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // The fake clock: every reading returns this value.
    static void SetNow(int32_t seconds);
    // Message boxes shown since SetUp, and the button the next ones return.
    static const std::vector<CapturedBox>& Boxes();
    static void SetBoxAnswer(int button);

    // The host's record: every call to `function`, in order.
    static std::vector<const StandIn_Call*> Calls(int function);
    // Scripted HTTP replies.
    static void QueueReply(int kind, int result, const std::string& bytes);
    static void QueueGet(const std::string& bytes) { QueueReply(StandIn_Get, 0, bytes); }
    static void QueuePost(const std::string& bytes) { QueueReply(StandIn_Post, 0, bytes); }
};

// Puts every module-level value of the plug-in back to its state at load.
void ResetPluginState();

// A UTF-8 text as the plug-in holds it: Shift-JIS, converted by the platform's
// own conversion (Win32 in the Windows build).
std::string Sjis(const std::string& utf8);

// An absolute path of the build machine as this program opens it: under Wine
// the machine's "/" is drive Z:.
std::string LocalPath(const std::string& path);

// The path of a file in tests/data.
std::string DataPath(const std::string& name);
std::string ReadDataFile(const std::string& name);

#if NORROW_OS_WINDOWS
// What was seen of a message box of this process once it had its text. Plain
// bytes: the box may open while the process has no memory.
struct SeenBox {
    bool found = false;
    bool hostEnabled = true;  // whether the host's window could take input
    void* owner = nullptr;    // the box's owner window
    char text[512] = "";
};

// While alive, each dialog box that opens on this thread is answered with OK
// as soon as it has its text, on the thread itself; the last one is noted,
// with the state of the host's window `host` at that moment. Allocates
// nothing once built.
class AnsweredBoxes {
public:
    explicit AnsweredBoxes(void* host = nullptr);
    ~AnsweredBoxes();
    AnsweredBoxes(const AnsweredBoxes&) = delete;
    AnsweredBoxes& operator=(const AnsweredBoxes&) = delete;
    const SeenBox& Last() const;
};
#endif

}  // namespace norrow::test
