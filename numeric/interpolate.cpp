#include "interpolate.h"

// Audio thread: no allocation, no lock, no I/O.
void interpolateLinear(const double* x, const double* y, int n, const double* q, int m, double* r)
{
    if (m <= 0) return;
    // Degenerate knot sets would index past the arrays; give the only sensible answers instead.
    if (n < 2)
    {
        const double value = n == 1 ? y[0] : 0.0;
        for (int k = 0; k < m; ++k)
            r[k] = value;
        return;
    }

    const auto segment = [&](int k, int j)
    {
        const double h = x[j] - x[j - 1];
        // A zero-width end segment (repeated end knots) has no slope: hold the nearer knot's value
        // instead of dividing by zero.
        const double t = h != 0.0 ? (q[k] - x[j - 1]) / h : (q[k] >= x[j] ? 1.0 : 0.0);
        r[k] = (y[j] - y[j - 1]) * t + y[j - 1];
    };

    // One forward pass: the running segment only ever moves right, so queries that step back
    // stay on the segment reached so far.
    int k = 0;
    for (; k < m && q[k] < x[0]; ++k)
        segment(k, 1);
    int s = 1;
    for (; k < m; ++k)
    {
        while (s < n && q[k] >= x[s])
            ++s;
        if (s == n) break;
        segment(k, s);
    }
    for (; k < m; ++k)
        segment(k, n - 1);
}
