#include "heap_meter.h"

#include "testkit/hooked_new.h"

namespace norrow::bench {
namespace {

size_t peak = 0;
bool metering = false;

void Watch(size_t alive) {
    if (metering && alive > peak) peak = alive;
}

}  // namespace

HeapMeter::HeapMeter() : start_(testkit::BytesAlive()) {
    peak = start_;
    metering = true;
}
HeapMeter::~HeapMeter() { metering = false; }
size_t HeapMeter::PeakAboveStart() const { return peak - start_; }

}  // namespace norrow::bench

namespace norrow::testkit {
const NewHooks kNewHooks{nullptr, bench::Watch, true};
}  // namespace norrow::testkit
