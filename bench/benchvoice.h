// The sung vowel the benchmarks process: harmonics up to 4 kHz under two formants, 5 Hz vibrato
// around 180 Hz, a breath of noise, and a short pause every two seconds so that unvoiced
// stretches occur too.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<float> benchVoice(double rate, size_t length)
{
    std::vector<float> out(length);
    double phase = 0.0;
    uint32_t state = 1;
    for (size_t k = 0; k < length; ++k)
    {
        const double t = static_cast<double>(k) / rate;
        const double f0 = 180.0 * (1.0 + 0.02 * std::sin(2.0 * M_PI * 5.0 * t));
        phase += 2.0 * M_PI * f0 / rate;
        double v = 0.0;
        const int harmonics = static_cast<int>(4000.0 / f0);
        for (int h = 1; h <= harmonics; ++h)
        {
            const double f = h * f0;
            const double formants = 1.0 / (1.0 + std::pow((f - 700.0) / 150.0, 2)) +
                                    0.5 / (1.0 + std::pow((f - 1200.0) / 200.0, 2)) + 0.05;
            v += formants * std::sin(h * phase);
        }
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / 8388608.0 - 1.0) * 0.01;
        const bool pause = std::fmod(t, 2.0) > 1.8;
        out[k] = static_cast<float>((pause ? 0.0 : 0.2 * v) + noise);
    }
    return out;
}
