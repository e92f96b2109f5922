// The voice path at the host's sample rate: pitch offsets and scale snapping land on the same
// targets at every rate, and the stream does not depend on the host's block size.
#include "measure.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace
{
constexpr double kSeconds = 1.6;

struct Rendered
{
    std::vector<float> output;
    int delay;
};

Rendered render(double rate, const std::vector<float>& input, float pitch, bool scale,
                size_t hostBlock = 512)
{
    auto host = testsupport::loadPlugin();
    host->suspend();
    host->setSampleRate(static_cast<float>(rate));
    host->resume();
    host->setParameter(0, pitch);
    host->setParameter(2, scale ? 1.0f : 0.0f);
    Rendered run;
    run.delay = host->effect()->initialDelay;
    run.output = testsupport::processInBlocks(*host, input, hostBlock);
    return run;
}

// f0 over a steady stretch past the delay and the first analysed blocks.
double measuredF0(const Rendered& run, double rate)
{
    const size_t from = static_cast<size_t>(run.delay + 0.3 * rate);
    const size_t to = run.output.size() - static_cast<size_t>(0.05 * rate);
    return measure::f0ByAutocorrelation(run.output, from, to, rate, 40.0, 1500.0);
}

void dumpIf(bool failed, const std::string& name, const std::vector<float>& out, double rate)
{
    if (failed)
        measure::writeWav(std::string(HALVERN_TEST_OUTPUT_DIR) + "/" + name + ".wav", out,
                          static_cast<int>(rate));
}

const double kRates[] = {22050.0, 88200.0, 96000.0, 192000.0};
} // namespace

TEST(RatesEndToEnd, PitchOffsetsLandOnTheShiftedF0)
{
    const double f0 = 180.0;
    for (double rate : kRates)
    {
        const auto input =
            testsupport::pulseTrain(f0, rate, static_cast<size_t>(kSeconds * rate));
        for (int cents : {0, 700, -1200})
        {
            const Rendered run = render(rate, input, static_cast<float>(0.5 + cents / 2400.0), false);
            const double expected = f0 * std::pow(2.0, cents / 1200.0);
            const double error = measure::cents(measuredF0(run, rate), expected);
            EXPECT_NEAR(error, 0.0, 15.0) << rate << " Hz, offset " << cents;
            dumpIf(std::fabs(error) > 15.0,
                   "rate_" + std::to_string(static_cast<int>(rate)) + "_" + std::to_string(cents),
                   run.output, rate);
        }
    }
}

TEST(RatesEndToEnd, ScaleSnapsDetunedVoices)
{
    const double e4 = 440.0 * std::pow(2.0, -5 / 12.0);
    for (double rate : kRates)
        for (int detune : {-30, 30})
        {
            const double f0 = e4 * std::pow(2.0, detune / 1200.0);
            const auto input =
                testsupport::pulseTrain(f0, rate, static_cast<size_t>(kSeconds * rate));
            const Rendered run = render(rate, input, 0.5f, true);
            const double error = measure::cents(measuredF0(run, rate), e4);
            EXPECT_NEAR(error, 0.0, 10.0) << rate << " Hz, detune " << detune;
        }
}

TEST(RatesEndToEnd, SameStreamForHostBlocksOf64And4096)
{
    for (double rate : kRates)
    {
        const auto input = testsupport::pulseTrain(210.0, rate, static_cast<size_t>(rate));
        const Rendered small = render(rate, input, 0.6f, false, 64);
        const Rendered large = render(rate, input, 0.6f, false, 4096);
        EXPECT_EQ(small.output, large.output) << rate;
        double energy = 0.0;
        for (float v : small.output)
            energy += v * v;
        EXPECT_GT(energy, 1.0) << rate; // the voice really came through
    }
}

// Above about 82 kHz the first block's output falls due before the block is complete. Whatever
// of it comes late must be dropped, not left in the ring to play a ring cycle later: no jump
// between samples of the first second may exceed twice the tone's steady largest jump.
TEST(RatesEndToEnd, StreamStartsWithoutStaleOutputAtHighRates)
{
    for (double rate : {88200.0, 96000.0, 176400.0, 192000.0})
    {
        std::vector<float> tone(static_cast<size_t>(3 * rate));
        for (size_t k = 0; k < tone.size(); ++k)
            tone[k] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 220.0 * k / rate));
        const Rendered run = render(rate, tone, 0.625f, false);
        const auto largestJump = [&](double from, double to)
        {
            double jump = 0.0;
            for (size_t k = static_cast<size_t>(from * rate) + 1; k < to * rate; ++k)
                jump = std::max(jump, std::fabs(double(run.output[k]) - run.output[k - 1]));
            return jump;
        };
        const double steady = largestJump(1.5, 2.9);
        ASSERT_GT(steady, 0.0) << rate;
        const double ratio = largestJump(0.0, 1.0) / steady;
        EXPECT_LE(ratio, 2.0) << rate << " Hz";
        std::printf("%.0f Hz: largest start jump / steady largest jump %.2f\n", rate, ratio);
        dumpIf(ratio > 2.0, "start_" + std::to_string(static_cast<int>(rate)), run.output, rate);
    }
}
