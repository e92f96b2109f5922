#include "interpolate.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

    // Queries k in [from, to) on segment j (knots j - 1 and j).
    const auto segment = [&](int from, int to, int j)
    {
        const double x0 = x[j - 1];
        const double y0 = y[j - 1];
        const double h = x[j] - x0;
        const double dy = y[j] - y0;
        int k = from;
        if (h == 0.0)
        {
            // A zero-width end segment (repeated end knots) has no slope: hold the nearer knot's
            // value instead of dividing by zero.
            for (; k < to; ++k)
                r[k] = dy * (q[k] >= x[j] ? 1.0 : 0.0) + y0;
            return;
        }
#if defined(__SSE2__)
        // Two queries at a time, each lane with exactly the scalar operations below.
        const __m128d x0s = _mm_set1_pd(x0), y0s = _mm_set1_pd(y0);
        const __m128d hs = _mm_set1_pd(h), dys = _mm_set1_pd(dy);
        for (; k + 1 < to; k += 2)
        {
            const __m128d t = _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(q + k), x0s), hs);
            _mm_storeu_pd(r + k, _mm_add_pd(_mm_mul_pd(dys, t), y0s));
        }
#endif
        for (; k < to; ++k)
            r[k] = dy * ((q[k] - x0) / h) + y0;
    };

    // One forward pass: the running segment only ever moves right, so queries that step back
    // stay on the segment reached so far.
    int k = 0;
    while (k < m && q[k] < x[0])
        ++k;
    segment(0, k, 1);
    int s = 1;
    while (k < m)
    {
        while (s < n && q[k] >= x[s])
            ++s;
        if (s == n) break;
        // The run of queries that stay on segment s.
        int end = k + 1;
        while (end < m && !(q[end] >= x[s]))
            ++end;
        segment(k, end, s);
        k = end;
    }
    segment(k, m, n - 1);
}
