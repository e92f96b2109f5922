#include "f0postprocess.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

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

    // The enabled notes nearest s from below and from above: every other enabled note lies at
    // least a semitone further away on its side, so the scan of the three octaves around s (in
    // increasing n, keeping the first strictly nearer note) ends on one of these two, the lower
    // one on a tie.
    const int from = 12 * (k - 1);
    const int to = 12 * (k + 1) + 11;
    const int around = std::min(std::max(static_cast<int>(std::floor(s)), from), to);
    int below = around;
    while (below >= from && state.noteOn[((below % 12) + 12) % 12] == 0)
        --below;
    int above = around + 1;
    while (above <= to && state.noteOn[((above % 12) + 12) % 12] == 0)
        ++above;
    double best = 10000000.0;
    int bestNote = 0;
    bool found = false;
    for (const int n : {below, above})
    {
        if (n < from || n > to) continue;
        const double distance = std::fabs(s - n);
        if (distance < best) // below comes first: a tie keeps the lower note
        {
            best = distance;
            bestNote = n;
            found = true;
        }
    }
    if (!found) return f0;
    return std::pow(2.0, bestNote * 0.08333333333333333) * 440.0;
}
