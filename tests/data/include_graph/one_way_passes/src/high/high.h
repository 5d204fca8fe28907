#include "high/generated.h"  // made by the build
#include "low/low.h"
#include "missing/elsewhere.h"
