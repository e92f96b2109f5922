// Voiced test signals whose f0 is known at every instant, and a scorer for an f0 track.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace f0signal
{

constexpr double kPi = 3.14159265358979323846;

using F0Curve = std::function<double(double)>; // f0 in Hz at a time in seconds

inline F0Curve steady(double f0)
{
    return [f0](double) { return f0; };
}

// Linear glide from f0a at time t0 to f0b at time t1, flat outside.
inline F0Curve glide(double f0a, double f0b, double t0, double t1)
{
    return [=](double t)
    {
        const double u = std::fmin(1.0, std::fmax(0.0, (t - t0) / (t1 - t0)));
        return f0a + (f0b - f0a) * u;
    };
}

// Sinusoidal vibrato of depth (a fraction of f0) at rateHz.
inline F0Curve vibrato(double f0, double depth, double rateHz)
{
    return [=](double t) { return f0 * (1.0 + depth * std::sin(2.0 * kPi * rateHz * t)); };
}

// Band-limited pulse train (a sawtooth-like glottal source): harmonics 1/h up to topHz, with the
// phase integrating the f0 curve so that glides and vibrato are exact.
inline std::vector<double> pulseTrain(const F0Curve& f0, double rate, size_t length,
                                      double topHz = 4000.0, double amplitude = 0.3)
{
    double highest = 0.0;
    for (size_t k = 0; k < length; k += 16)
        highest = std::fmax(highest, f0(k / rate));
    const int harmonics = std::max(1, static_cast<int>(std::fmin(topHz, 0.45 * rate) / highest));
    std::vector<double> out(length);
    double phase = 0.3; // not starting on a crossing
    for (size_t k = 0; k < length; ++k)
    {
        double v = 0.0;
        for (int h = 1; h <= harmonics; ++h)
            v += std::sin(h * phase) / h;
        out[k] = amplitude * v;
        phase += 2.0 * kPi * f0(k / rate) / rate;
        if (phase > 2.0 * kPi) phase -= 2.0 * kPi;
    }
    return out;
}

struct Formant
{
    double frequency; // Hz
    double bandwidth; // Hz
};

// The source through a cascade of two-pole resonators, each with unity gain at 0 Hz.
inline std::vector<double> throughFormants(std::vector<double> x, double rate,
                                           const std::vector<Formant>& formants)
{
    for (const Formant& f : formants)
    {
        const double r = std::exp(-kPi * f.bandwidth / rate);
        const double a1 = 2.0 * r * std::cos(2.0 * kPi * f.frequency / rate);
        const double a2 = -r * r;
        const double g = 1.0 - a1 - a2;
        double y1 = 0.0, y2 = 0.0;
        for (double& v : x)
        {
            const double y = g * v + a1 * y1 + a2 * y2;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
    return x;
}

// An /a/-like vowel: the pulse train through formants at 700, 1220 and 2600 Hz.
inline std::vector<double> vowel(const F0Curve& f0, double rate, size_t length)
{
    return throughFormants(pulseTrain(f0, rate, length), rate,
                           {{700.0, 80.0}, {1220.0, 90.0}, {2600.0, 120.0}});
}

// An /i/-like vowel, low first formant and high second: a weak fundamental region.
inline std::vector<double> vowelI(const F0Curve& f0, double rate, size_t length)
{
    return throughFormants(pulseTrain(f0, rate, length), rate,
                           {{300.0, 60.0}, {2300.0, 100.0}, {3000.0, 120.0}});
}

// How an f0 track compares with the truth.
struct Score
{
    int frames = 0;
    int voicedAndClose = 0; // voiced and within the tolerance
    int unvoiced = 0;
    double worstError = 0.0; // relative, over the voiced frames
    double fraction() const { return frames ? static_cast<double>(voicedAndClose) / frames : 0.0; }
};

inline Score score(const std::vector<double>& track, const std::vector<double>& truth, int first,
                   int last, double tolerance)
{
    Score s;
    for (int i = first; i <= last; ++i)
    {
        ++s.frames;
        if (track[i] == 0.0)
        {
            ++s.unvoiced;
            continue;
        }
        const double err = std::fabs(track[i] - truth[i]) / truth[i];
        s.worstError = std::fmax(s.worstError, err);
        if (err <= tolerance) ++s.voicedAndClose;
    }
    return s;
}

// Leaves frame, truth and estimate under the test output folder for a look after a failure.
inline void writeTrack(const std::string& name, const std::vector<double>& times,
                       const std::vector<double>& truth, const std::vector<double>& track)
{
    const std::string dir = std::string(HALVERN_TEST_OUTPUT_DIR) + "/f0";
    ::mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/" + name + ".csv";
    if (std::FILE* f = std::fopen(path.c_str(), "w"))
    {
        std::fprintf(f, "frame,time,truth,estimate\n");
        for (size_t i = 0; i < track.size(); ++i)
            std::fprintf(f, "%zu,%f,%f,%f\n", i, times[i], truth[i], track[i]);
        std::fclose(f);
    }
}

} // namespace f0signal
