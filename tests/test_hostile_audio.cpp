// Hostile audio through the exported entry point: non-finite bursts, denormals, full-scale noise,
// DC, clipped squares, impulses, steps; parameters at and beyond their ends changed at random
// moments; random host block sizes with in-place and separate buffers.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>

namespace
{

enum class Kind
{
    NonFiniteBursts,
    Denormals,
    WhiteNoise,
    Dc,
    ClippedSquare,
    Impulses,
    SilenceToLoud,
    Voice,
    Count
};

std::vector<float> makeSignal(Kind kind, size_t length, std::mt19937& rng)
{
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> x(length, 0.0f);
    switch (kind)
    {
    case Kind::NonFiniteBursts:
    {
        x = testsupport::pulseTrain(150.0 + 300.0 * std::abs(uniform(rng)), 44100.0, length);
        const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity()};
        for (int burst = 0; burst < 8; ++burst)
        {
            const size_t start = rng() % length;
            const size_t n = 1 + rng() % 2000;
            for (size_t k = start; k < std::min(length, start + n); ++k)
                x[k] = specials[rng() % 3];
        }
        break;
    }
    case Kind::Denormals:
        for (auto& v : x)
            v = uniform(rng) * FLT_MIN * 0.5f;
        break;
    case Kind::WhiteNoise:
        for (auto& v : x)
            v = uniform(rng);
        break;
    case Kind::Dc:
        std::fill(x.begin(), x.end(), uniform(rng) > 0 ? 1.0f : -1.0f);
        break;
    case Kind::ClippedSquare:
    {
        const double f = 50.0 + 1000.0 * std::abs(uniform(rng));
        for (size_t k = 0; k < length; ++k)
            x[k] = std::sin(2 * M_PI * f * k / 44100.0) >= 0 ? 1.0f : -1.0f;
        break;
    }
    case Kind::Impulses:
        for (size_t k = rng() % 500; k < length; k += 1 + rng() % 4000)
            x[k] = uniform(rng) > 0 ? 1.0f : -1.0f;
        break;
    case Kind::SilenceToLoud:
    {
        const size_t step = rng() % length;
        const auto loud = testsupport::pulseTrain(220.0, 44100.0, length, 1.0);
        for (size_t k = step; k < length; ++k)
            x[k] = loud[k] * 3.0f; // beyond full scale
        break;
    }
    default:
        x = testsupport::pulseTrain(90.0 + 550.0 * std::abs(uniform(rng)), 44100.0, length);
        break;
    }
    return x;
}

} // namespace

TEST(HostileAudio, NoCrashNoNonFiniteOutput)
{
    const char* runsText = std::getenv("HALVERN_HOSTILE_RUNS");
    const int runs = runsText ? std::atoi(runsText) : 1000;
    std::mt19937 rng(20261207);
    // The ends, beyond them, and far beyond (a pitch or formant ratio that overflows a float).
    const float hostValues[] = {-1.0f, 0.0f, 1.0f, 2.0f, 0.5f, 0.25f, 0.75f, 100.0f, -100.0f};

    long nonFinite = 0;
    double peak = 0.0;
    long samples = 0;
    auto host = testsupport::loadPlugin();
    for (int run = 0; run < runs; ++run)
    {
        // A fresh effect every few runs, so both young and long-running effects are exercised.
        if (run % 25 == 0)
            host = testsupport::loadPlugin();
        const Kind kind = static_cast<Kind>(run % static_cast<int>(Kind::Count));
        const size_t length = 2000 + rng() % 30000;
        std::vector<float> input = makeSignal(kind, length, rng);
        std::vector<float> output(length);
        const bool inPlace = rng() % 2 == 0;
        if (inPlace)
            output = input;

        size_t k = 0;
        while (k < length)
        {
            if (rng() % 3 == 0)
                host->setParameter(static_cast<VstInt32>(rng() % 15), hostValues[rng() % 9]);
            // Mostly ordinary sizes, sometimes 0 or up to 65536 (clipped to what is left).
            size_t n;
            switch (rng() % 4)
            {
            case 0:
                n = 0;
                break;
            case 1:
                n = rng() % 65537;
                break;
            default:
                n = 1 + rng() % 1024;
                break;
            }
            n = std::min(n, length - k);
            if (inPlace)
                host->process(output.data() + k, output.data() + k, static_cast<VstInt32>(n));
            else
                host->process(input.data() + k, output.data() + k, static_cast<VstInt32>(n));
            k += n;
        }
        for (float v : output)
        {
            if (!std::isfinite(v))
                ++nonFinite;
            else
                peak = std::max(peak, static_cast<double>(std::fabs(v)));
        }
        samples += static_cast<long>(length);
    }
    std::printf("hostile audio: %d runs, %ld samples, %ld non-finite output samples, peak %.3f\n",
                runs, samples, nonFinite, peak);
    EXPECT_EQ(nonFinite, 0);
}
