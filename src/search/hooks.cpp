#include "search/hooks.h"

namespace norrow::search {

int Load() { return 1; }

}  // namespace norrow::search
