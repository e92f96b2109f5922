// Not written yet: leaves its outputs untouched.
#include "f0estimation.h"

void estimateF0(const double*, int, int, double*, double*) {}
