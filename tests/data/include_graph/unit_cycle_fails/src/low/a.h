// a header and its source are one unit
#include "low/b.h"
