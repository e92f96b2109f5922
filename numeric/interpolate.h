// Piecewise-linear interpolation with straight-line extrapolation beyond the end knots.
#pragma once

// x: n >= 2 strictly ascending knots with values y; q: m ascending queries; r: m results.
// A query at an inner knot uses the segment on its right; queries that step back keep the
// segment reached so far. With n == 1 every result is y[0], with n <= 0 it is 0; a zero-width end
// segment holds its end value.
// Real-time: no allocation, no lock, no I/O.
void interpolateLinear(const double* x, const double* y, int n, const double* q, int m, double* r);
