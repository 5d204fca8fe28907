#include "high/high.h"  // the lower folder reaches up: a circle
