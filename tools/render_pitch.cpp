#include "render_pitch.h"

#include <algorithm>
#include <cmath>

namespace render
{

namespace
{

// Low-pass (windowed sinc, Blackman) and keep every factor-th sample; no delay.
std::vector<double> decimate(const std::vector<float>& x, int factor)
{
    std::vector<double> y;
    if (factor <= 1)
    {
        y.assign(x.begin(), x.end());
        return y;
    }
    const int half = 8 * factor;
    const double cutoff = 0.45 / factor; // of the input rate, below the new Nyquist
    std::vector<double> taps(2 * half + 1);
    double sum = 0.0;
    for (int j = -half; j <= half; ++j)
    {
        const double sinc = j == 0 ? 2.0 * cutoff : std::sin(2.0 * M_PI * cutoff * j) / (M_PI * j);
        const double phase = M_PI * (j + half) / half; // 0 .. 2 pi
        const double window = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
        taps[j + half] = sinc * window;
        sum += taps[j + half];
    }
    for (double& t : taps)
        t /= sum;

    const long n = static_cast<long>(x.size());
    y.resize(static_cast<size_t>((n + factor - 1) / factor));
    for (size_t i = 0; i < y.size(); ++i)
    {
        const long centre = static_cast<long>(i) * factor;
        double acc = 0.0;
        for (int j = -half; j <= half; ++j)
        {
            const long k = centre + j;
            if (k >= 0 && k < n) acc += taps[j + half] * x[static_cast<size_t>(k)];
        }
        y[i] = acc;
    }
    return y;
}

} // namespace

PitchTrack trackPitch(const std::vector<float>& signal, double rate,
                      const PitchTrackerSettings& settings)
{
    PitchTrack track;
    if (signal.empty() || !(rate > 0.0)) return track;

    const int factor = std::max(1, static_cast<int>(rate / settings.analysisRate));
    const double decimatedRate = rate / factor;
    const std::vector<double> y = decimate(signal, factor);

    const int maxLag = static_cast<int>(std::ceil(decimatedRate / settings.minF0));
    const int minLag = std::max(2, static_cast<int>(decimatedRate / settings.maxF0));
    const int window = maxLag; // holds at least one period of the lowest f0
    const int span = window + maxLag + 2;

    const double duration = static_cast<double>(signal.size()) / rate;
    const size_t frames = static_cast<size_t>(duration / settings.hopSeconds) + 1;
    track.times.resize(frames);
    track.f0.assign(frames, 0.0);
    std::vector<double> rms(frames, 0.0);

    std::vector<double> segment(static_cast<size_t>(span));
    std::vector<double> diff(static_cast<size_t>(maxLag) + 2);
    std::vector<double> normalised(diff.size());
    const long length = static_cast<long>(y.size());

    for (size_t i = 0; i < frames; ++i)
    {
        const double time = static_cast<double>(i) * settings.hopSeconds;
        track.times[i] = time;
        const long start = std::lround(time * decimatedRate) - span / 2;
        double energy = 0.0;
        for (int j = 0; j < span; ++j)
        {
            const long k = start + j;
            segment[j] = (k >= 0 && k < length) ? y[static_cast<size_t>(k)] : 0.0;
            energy += segment[j] * segment[j];
        }
        rms[i] = std::sqrt(energy / span);
        if (rms[i] == 0.0) continue;

        for (int lag = 1; lag <= maxLag + 1; ++lag)
        {
            // Both stretches compared lie around the frame's centre whatever the lag, so a glide
            // is measured at the frame's time and not earlier.
            const double* a = segment.data() + (maxLag + 1 - lag) / 2;
            const double* b = a + lag;
            double d = 0.0;
            for (int j = 0; j < window; ++j)
            {
                const double delta = a[j] - b[j];
                d += delta * delta;
            }
            diff[lag] = d;
        }
        // Normalising by the running mean removes the dip at lag 0 and makes one threshold fit
        // every level.
        double running = 0.0;
        normalised[0] = 1.0;
        for (int lag = 1; lag <= maxLag + 1; ++lag)
        {
            running += diff[lag];
            normalised[lag] = running > 0.0 ? diff[lag] * lag / running : 1.0;
        }

        int best = -1;
        for (int lag = minLag; lag <= maxLag; ++lag)
        {
            if (normalised[lag] < settings.threshold)
            {
                while (lag + 1 <= maxLag && normalised[lag + 1] < normalised[lag])
                    ++lag;
                best = lag;
                break;
            }
        }
        if (best < 0) continue;

        // Parabola through the raw differences around the dip.
        double period = best;
        const double a = diff[best - 1];
        const double b = diff[best];
        const double c = diff[best + 1];
        const double curvature = a - 2.0 * b + c;
        if (curvature > 0.0) period += 0.5 * (a - c) / curvature;
        const double f0 = decimatedRate / period;
        if (f0 >= settings.minF0 && f0 <= settings.maxF0) track.f0[i] = f0;
    }

    const double loudest = *std::max_element(rms.begin(), rms.end());
    const double floor = loudest * std::pow(10.0, settings.silenceDb / 20.0);
    for (size_t i = 0; i < frames; ++i)
        if (rms[i] < floor || loudest < 1e-6) track.f0[i] = 0.0;

    // Median over the voiced neighbours: a glide can make one frame pick twice the period.
    const int reach = std::max(0, settings.medianFrames / 2);
    if (reach > 0)
    {
        const std::vector<double> raw = track.f0;
        std::vector<double> around;
        for (size_t i = 0; i < frames; ++i)
        {
            if (raw[i] <= 0.0) continue;
            around.clear();
            const size_t from = i >= static_cast<size_t>(reach) ? i - reach : 0;
            const size_t to = std::min(frames - 1, i + reach);
            for (size_t j = from; j <= to; ++j)
                if (raw[j] > 0.0) around.push_back(raw[j]);
            std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
            track.f0[i] = around[around.size() / 2];
        }
    }
    return track;
}

} // namespace render
