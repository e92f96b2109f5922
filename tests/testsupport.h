// Helpers shared by the tests: signals with known content and the plug-in loaded as a host would.
#pragma once

#include "pluginhost.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport
{

inline std::unique_ptr<PluginHost> loadPlugin()
{
    return std::make_unique<PluginHost>(HALVERN_PLUGIN_PATH);
}

// Runs a mono signal through the host in calls of blockSize frames (the last one shorter).
inline std::vector<float> processInBlocks(PluginHost& host, const std::vector<float>& input,
                                          size_t blockSize)
{
    std::vector<float> output(input.size());
    for (size_t k = 0; k < input.size(); k += blockSize)
    {
        const size_t n = std::min(blockSize, input.size() - k);
        host.process(input.data() + k, output.data() + k, static_cast<VstInt32>(n));
    }
    return output;
}

// The same for an effect object driven directly (no host in between).
template <class Effect>
std::vector<float> processEffectInBlocks(Effect& effect, const std::vector<float>& input,
                                         size_t blockSize)
{
    std::vector<float> output(input.size());
    for (size_t k = 0; k < input.size(); k += blockSize)
    {
        float* in[1] = {const_cast<float*>(input.data()) + k};
        float* out[1] = {output.data() + k};
        effect.processReplacing(in, out,
                                static_cast<VstInt32>(std::min(blockSize, input.size() - k)));
    }
    return output;
}

// Deterministic white noise in [-amplitude, amplitude].
inline std::vector<float> noise(size_t length, float amplitude, uint32_t seed = 12345)
{
    std::vector<float> out(length);
    uint32_t state = seed;
    for (auto& v : out)
    {
        state = state * 1664525u + 1013904223u;
        v = amplitude * (static_cast<float>(state >> 8) / 8388608.0f - 1.0f);
    }
    return out;
}

// A band-limited pulse train: harmonics of f0 up to 4 kHz with a falling spectral tilt, which
// looks like a voiced glottal source to the analysis.
inline std::vector<float> pulseTrain(double f0, double rate, size_t length, double amplitude = 0.3)
{
    std::vector<float> out(length);
    const int harmonics = static_cast<int>(4000.0 / f0);
    double norm = 0.0;
    for (int h = 1; h <= harmonics; ++h)
        norm += 1.0 / h;
    for (size_t k = 0; k < length; ++k)
    {
        double v = 0.0;
        const double phase = 2.0 * M_PI * f0 * static_cast<double>(k) / rate;
        for (int h = 1; h <= harmonics; ++h)
            v += std::sin(h * phase) / h;
        out[k] = static_cast<float>(amplitude * v / norm * 3.0);
    }
    return out;
}

} // namespace testsupport
