#include "high/high.h"  // the lower folder reaches up, with no circle
