#include "f0postprocess.h"

#include <cmath>

// Audio thread: no allocation, no lock, no I/O.
void smoothF0Track(double* f0, int m, double* scratch)
{
    // Running sum and count of the voiced frames in the window i-5..i+5; the order of the updates
    // is part of the result (the sum is never recomputed).
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < 5 && i < m; ++i)
        if (f0[i] != 0.0)
        {
            sum += f0[i];
            count += 1;
        }
    for (int i = 0; i < m; ++i)
    {
        if (i - 6 >= 0 && f0[i - 6] != 0.0)
        {
            sum -= f0[i - 6];
            count -= 1;
        }
        if (i + 5 <= m - 1 && f0[i + 5] != 0.0)
        {
            sum += f0[i + 5];
            count += 1;
        }
        // A voiced frame counts itself, so count >= 1 here.
        scratch[i] = f0[i] == 0.0 ? 0.0 : sum / count;
    }
    for (int i = 0; i < m; ++i)
        f0[i] = scratch[i];
}

// Audio thread: no allocation, no lock, no I/O.
double snapToScale(const ControlState& state, double f0)
{
    // The logarithm below needs a positive finite value; anything else passes through.
    if (!(f0 > 0.0) || !std::isfinite(f0)) return f0;
    const double s = (std::log(f0 * 0.0022727272727272726) / std::log(2.0)) * 12.0;
    if (!std::isfinite(s)) // a denormal f0 underflows to log(0)
        return f0;
    const int k = static_cast<int>(std::floor(s * 0.08333333333333333));

    double best = 10000000.0;
    int bestNote = 0;
    bool found = false;
    for (int o = k - 1; o <= k + 1; ++o)
        for (int c = 0; c < 12; ++c)
        {
            if (state.noteOn[c] == 0) continue;
            const int n = 12 * o + c;
            const double distance = std::fabs(s - n);
            if (distance < best) // strict: on a tie the lower note stays
            {
                best = distance;
                bestNote = n;
                found = true;
            }
        }
    if (!found) return f0;
    return std::pow(2.0, bestNote * 0.08333333333333333) * 440.0;
}
