#include "interpolate.h"
