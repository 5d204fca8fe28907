// The output side of a conversion with the Win32 contract: with no target it
// only counts; with a target it writes up to `capacity` units and reports 0
// when they do not fit.
#pragma once

namespace norrow::platform {

template <typename Unit>
class CountedOutput {
public:
    CountedOutput(Unit* target, int capacity) : target_(target), capacity_(capacity) {}

    void Put(Unit unit) {
        if (target_ != nullptr) {
            if (count_ >= capacity_) {
                overflow_ = true;
                return;
            }
            target_[count_] = unit;
        }
        ++count_;
    }

    // The number of units, or 0 when the target was too small.
    int Result() const { return overflow_ ? 0 : count_; }

private:
    Unit* target_;
    int capacity_;
    int count_ = 0;
    bool overflow_ = false;
};

}  // namespace norrow::platform
