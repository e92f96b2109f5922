#include "f0contour.h"

#include "f0map.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

namespace
{
constexpr int kEdgeMargin = 6;           // frames cleared at each end of base
constexpr double kThresholdLimit = 0.05; // stabilities counted into the block threshold
constexpr double kThresholdFactor = 2.0; // threshold = factor x their mean
constexpr double kJumpLimit = 0.04;      // largest relative step between voiced frames
constexpr double kJumpGuard = 1e-5;
constexpr int kNeighbourhood = 6;    // a voiced frame needs 5 voiced step1 frames on each side
constexpr double kStableLimit = 0.1; // candidates steadier than this may grow a section
constexpr double kRelativeLimit = 0.04;
constexpr double kRelativeGuard = 0.0001;

// Distance of candidate c from the nearer of the last voiced value v and its extrapolation e.
double distance(double c, double v, double e)
{
    return std::min(std::fabs(v - c), std::fabs(e - c));
}

double relativeError(double err, double v, double e)
{
    return std::min(err / (v + kRelativeGuard), err / (e + kRelativeGuard));
}

void growForward(int bands, int m, const double* const* f0Map, const double* const* stabilityMap,
                 double* contour, int i)
{
    while (i < m - 1)
    {
        if (contour[i + 1] != 0.0) return;
        const double v = contour[i];
        const double e = 2.0 * v - contour[i - 1];
        double err = distance(f0Map[0][i + 1], v, e);
        for (int b = 1; b < bands; ++b)
        {
            const double c = f0Map[b][i + 1];
            const double d = distance(c, v, e);
            if (d < err && stabilityMap[b][i + 1] < kStableLimit)
            {
                contour[i + 1] = c;
                err = d;
            }
        }
        if (relativeError(err, v, e) > kRelativeLimit)
        {
            contour[i + 1] = 0.0;
            return;
        }
        ++i;
    }
}

void growBackward(int bands, const double* const* f0Map, const double* const* stabilityMap,
                  double* contour, int i)
{
    while (i > 1)
    {
        if (contour[i - 1] != 0.0) return;
        const double v = contour[i];
        const double e = 2.0 * v - contour[i + 1];
        double err = distance(f0Map[0][i - 1], v, e);
        // Unlike the forward pass, any stable band replaces a choice that is still too far off.
        for (int b = 1; b < bands; ++b)
        {
            if (relativeError(err, v, e) > kRelativeLimit && stabilityMap[b][i - 1] < kStableLimit)
            {
                contour[i - 1] = f0Map[b][i - 1];
                err = distance(f0Map[b][i - 1], v, e);
            }
        }
        if (relativeError(err, v, e) > kRelativeLimit)
        {
            contour[i - 1] = 0.0;
            return;
        }
        --i;
    }
}
} // namespace

int f0FrameCount(int n, int fs)
{
    if (fs <= 0 || n < 0) return 0;
    const double frames = static_cast<double>(n) / fs * 500.0;
    if (!(frames < INT_MAX - 1.0)) return 0;
    return 1 + static_cast<int>(frames);
}

void traceF0Contour(int bands, int m, const double* const* f0Map, const double* const* stabilityMap,
                    const F0ContourTrace& trace)
{
    double* const best = trace.best;
    double* const base = trace.base;
    double* const step1 = trace.step1;
    double* const step2 = trace.step2;
    double* const step3 = trace.step3;
    double* const step4 = trace.step4;
    if (m <= 0) return;
    if (bands < 1)
    {
        for (double* c : {best, base, step1, step2, step3, step4})
            std::fill(c, c + m, 0.0);
        return;
    }

    // Best candidate per frame; base holds each frame's smallest stability until step 3.
    double* const minStab = base;
    for (int i = 0; i < m; ++i)
    {
        best[i] = 0.0;
        double runningMin = stabilityMap[0][i];
        for (int b = 1; b < bands; ++b)
        {
            if (stabilityMap[b][i] < runningMin)
            {
                runningMin = stabilityMap[b][i];
                best[i] = f0Map[b][i];
            }
        }
        minStab[i] = runningMin;
    }

    // Block threshold: twice the mean of the steady frames. With none it is 0/0, which clears
    // nothing because every comparison with it is false.
    int steadyCount = 0;
    double steadySum = 0.0;
    for (int i = 0; i < m; ++i)
    {
        if (minStab[i] < kThresholdLimit)
        {
            ++steadyCount;
            steadySum += minStab[i];
        }
    }
    const double threshold = steadyCount > 0 ? steadySum * kThresholdFactor / steadyCount
                                             : std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < m; ++i)
        if (minStab[i] > threshold) best[i] = 0.0;

    for (int i = 0; i < m; ++i)
        base[i] = (i >= kEdgeMargin && i < m - kEdgeMargin) ? best[i] : 0.0;

    // Jump test: a frame survives when it is within 4 % of the frame before it.
    std::fill(step1, step1 + m, 0.0);
    for (int i = kEdgeMargin; i < m; ++i)
        if (std::fabs((base[i] - base[i - 1]) / (base[i] + kJumpGuard)) < kJumpLimit)
            step1[i] = base[i];

    // Neighbourhood test, both passes reading step1 only.
    std::copy(step1, step1 + m, step2);
    for (int i = kNeighbourhood; i < m; ++i)
        if (std::find(step1 + i - (kNeighbourhood - 1), step1 + i + 1, 0.0) != step1 + i + 1)
            step2[i] = 0.0;
    for (int i = m - kNeighbourhood - 1; i >= 1; --i)
        if (std::find(step1 + i, step1 + i + kNeighbourhood, 0.0) != step1 + i + kNeighbourhood)
            step2[i] = 0.0;

    // Sections are those of step2; every forward growth comes before any backward one.
    std::copy(step2, step2 + m, step3);
    for (int i = 1; i < m; ++i)
        if (step2[i] == 0.0 && step2[i - 1] != 0.0)
            growForward(bands, m, f0Map, stabilityMap, step3, i - 1);

    std::copy(step3, step3 + m, step4);
    for (int i = m - 1; i >= 1; --i)
        if (step2[i - 1] == 0.0 && step2[i] != 0.0)
            growBackward(bands, f0Map, stabilityMap, step4, i);
}

void selectF0Contour(int bands, int n, int fs, const double* const* f0Map,
                     const double* const* stabilityMap, double* best, double* f0)
{
    const int m = f0FrameCount(n, fs);
    if (m <= 0) return;
    std::vector<double> contours(static_cast<size_t>(m) * 5);
    const F0ContourTrace trace{best,
                               contours.data(),
                               contours.data() + m,
                               contours.data() + 2 * m,
                               contours.data() + 3 * m,
                               contours.data() + 4 * m};
    traceF0Contour(bands, m, f0Map, stabilityMap, trace);
    std::copy(trace.step4, trace.step4 + m, f0);
    if (bands >= 1) dumpF0Map(bands, m, f0Map, stabilityMap, trace);
}
