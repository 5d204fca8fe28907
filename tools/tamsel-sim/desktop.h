// The desktop of the stand-in host: the message boxes the plug-in shows are
// drawn on the terminal (standard error), answered with OK, and recorded.
// On Linux the stand-in host library hands them over; on Windows they are
// real windows, which a hook on the calling thread reads and closes.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace norrow::sim {

struct ShownBox {
    unsigned type;
    std::string text;  // UTF-8
};

class Desktop {
public:
    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Every box shown since the desktop was made, in order.
    std::vector<ShownBox> Boxes() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Draws a box on standard error.
void DrawBox(const ShownBox& box);

}  // namespace norrow::sim
