// The output side of a conversion with the Win32 contract: with no target it
// only counts; with a target it writes up to `capacity` units and reports 0
// when they do not fit. The two are separate types, so that each conversion
// loop is compiled twice, once for each, with nothing to decide per unit.
#pragma once

#include <cstdint>
#include <cstring>

namespace norrow::platform {

template <typename Unit>
class CountingOutput {
public:
    void Put(Unit) { ++count_; }
    int Result() const { return count_; }

private:
    int count_ = 0;
};

template <typename Unit>
class WritingOutput {
public:
    WritingOutput(Unit* target, int capacity) : target_(target), capacity_(capacity) {}
    void Put(Unit unit) {
        if (count_ >= capacity_) {
            overflow_ = true;
            return;
        }
        target_[count_++] = unit;
    }
    int Result() const { return overflow_ ? 0 : count_; }

private:
    Unit* target_;
    int capacity_;
    int count_ = 0;
    bool overflow_ = false;
};

// Runs `convert(output)` with the output the contract asks for, and returns
// the output's result.
template <typename Unit, typename Convert>
int WithOutput(Unit* target, int capacity, Convert convert) {
    if (target == nullptr) {
        CountingOutput<Unit> out;
        convert(out);
        return out.Result();
    }
    WritingOutput<Unit> out(target, capacity);
    convert(out);
    return out.Result();
}

// How many of the bytes at `p` (up to `left`) are ASCII, eight at a time:
// runs of ASCII are the most of every answer.
inline int AsciiRun(const unsigned char* p, int left) {
    int n = 0;
    for (; left - n >= 8; n += 8) {
        uint64_t eight;
        std::memcpy(&eight, p + n, 8);
        if ((eight & 0x8080808080808080ull) != 0) break;
    }
    return n;
}

}  // namespace norrow::platform
