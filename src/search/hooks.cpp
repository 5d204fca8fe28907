#include "search/hooks.h"

#include "search/request.h"

namespace norrow::search {

uint32_t geocoderTargetId = 0;
uint32_t localTargetId = 0;

int Load() { return 1; }

}  // namespace norrow::search
