#include "low/b.h"
#include "low/a.h"  // b.h and b.cpp are one unit, which reaches a.h back
