// Piecewise-linear interpolation with straight-line extrapolation beyond the end knots.
#pragma once

// x: n >= 2 strictly ascending knots with values y; q: m ascending queries; r: m results.
// Allocates its own scratch per call.
void interpolateLinear(const double* x, const double* y, int n, const double* q, int m, double* r);
