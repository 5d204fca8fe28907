#include "low/low.h"
#include "high/generated.h"  // made by the build
#include "missing/elsewhere.h"
