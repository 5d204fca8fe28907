#include "low/a.h"
