#include "resynthesis.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr double kUnvoicedF0 = 500.0;

// Frame nearest time t >= t0 on the 2 ms grid (rounded half up, truncated toward zero). Values
// beyond any frame, and NaN, come back as limit so that the pulse walk stops.
int64_t frameIndex(double t, double t0, int limit)
{
    const double v = (t - t0) * 500.0 + 0.5;
    if (!(v < static_cast<double>(limit))) return limit;
    return static_cast<int64_t>(v);
}
} // namespace

// Audio thread: no allocation, no lock, no I/O.
void overlapAddGrains(double& nextPulseTime, int frameLimit, const ControlState* frameControls,
                      const double* f0Track, const double* const* frameGrains, int N, int rate,
                      double* outputRing, int ringSize, double t0, int64_t originSample)
{
    const int half = N / 2;
    // Grains span at most 4h < 2N samples over the knob's formant range; a longer stretch
    // (formant far below -1200 cents) is cut there rather than wrapping over the ring.
    const double maxLength = std::min(2 * N, ringSize);
    // One pulse per two samples at most, so a huge target f0 still moves the chain on.
    const double maxF0 = 0.5 * rate;

    if (!std::isfinite(t0)) return;
    double t = nextPulseTime;
    // The chain never lies before the block in the normal block sequence; a pulse time that does
    // (or is not a number) restarts at the block's first sample instead of reading frame -1.
    if (!(t >= t0)) t = t0;
    int64_t j = frameIndex(t, t0, frameLimit);
    while (j < frameLimit)
    {
        const int frame = static_cast<int>(j);
        const int64_t p = static_cast<int64_t>(std::floor(t * rate));

        const double r = static_cast<double>(
            std::pow(2.0f, frameControls[frame].formantCents * (1.0f / 1200.0f)));
        const double* g = frameGrains[frame];
        const double h = g[half - 1];
        const double inverse = 1.0 / r;
        double halfLength = h * inverse;
        if (!(halfLength >= 1.0))
            halfLength = 0.0; // empty grain, or a ratio that leaves nothing to write
        const int64_t n = 2 * static_cast<int64_t>(std::min(halfLength, 0.5 * maxLength));
        const double step = 1.0 / inverse;

        int64_t cell = ((originSample + p) % ringSize + ringSize) % ringSize;
        for (int64_t i = 0; i < n; ++i)
        {
            const double q = std::min(static_cast<double>(i) * step, static_cast<double>(half - 2));
            const int k = static_cast<int>(q);
            outputRing[cell] += g[k] + (g[k + 1] - g[k]) * (q - k);
            if (++cell == ringSize) cell = 0;
        }

        double f = f0Track[frame];
        if (f == 0.0 || !(f > 0.0) || !std::isfinite(f))
            f = kUnvoicedF0; // unvoiced, or a target that cannot be a pitch
        f = std::min(f, maxF0);
        t = t + 1.0 / f;
        j = frameIndex(t, t0, frameLimit);
    }
    nextPulseTime = t;
}
