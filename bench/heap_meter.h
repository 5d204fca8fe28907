// The benchmark program's operator new (testkit/hooked_new.h), which counts
// the bytes alive and their peak while a meter is running.
#pragma once

#include <cstddef>

namespace norrow::bench {

class HeapMeter {
public:
    HeapMeter();  // starts from the bytes alive now
    ~HeapMeter();
    // The most bytes alive above the start since the meter began.
    size_t PeakAboveStart() const;

private:
    size_t start_;
};

}  // namespace norrow::bench
