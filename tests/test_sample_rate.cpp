// Following the host's sample rate: geometry, reported delay and the host's notification.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using testsupport::loadPlugin;

namespace
{
size_t ioChangedCalls(const PluginHost& host)
{
    const auto calls = host.hostCalls();
    return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [](const auto& c)
                                             { return c.opcode == audioMasterIOChanged; }));
}
} // namespace

TEST(SampleRate, DelayFollowsTheRate)
{
    const struct
    {
        float rate;
        int latency;
    } cases[] = {{22050, 5907}, {44100, 9765}, {48000, 10448}, {88200, 17483},
                 {96000, 18848}, {192000, 35648}};
    for (const auto& c : cases)
    {
        auto host = loadPlugin();
        host->setSampleRate(c.rate);
        host->resume();
        EXPECT_EQ(host->effect()->initialDelay, c.latency) << c.rate;
        // 44100 is the rate the effect starts with: no change, no notification.
        EXPECT_EQ(ioChangedCalls(*host), c.rate == 44100 ? 0u : 1u) << c.rate;
    }
}

TEST(SampleRate, SameRateAgainChangesNothing)
{
    auto host = loadPlugin();
    host->setSampleRate(48000);
    std::vector<float> input = testsupport::noise(5000, 0.1f), output(5000);
    host->resume();
    host->process(input.data(), output.data(), 5000);
    host->suspend();
    host->clearHostCalls();
    host->setSampleRate(48000);
    EXPECT_EQ(ioChangedCalls(*host), 0u);
    EXPECT_EQ(host->effect()->initialDelay, 10448);
}

TEST(SampleRate, ChangeWhileResumedWaitsForTheNextResume)
{
    auto host = loadPlugin();
    host->resume();
    host->setSampleRate(96000);
    EXPECT_EQ(host->effect()->initialDelay, 9765);
    EXPECT_EQ(ioChangedCalls(*host), 0u);
    host->suspend();
    host->resume();
    EXPECT_EQ(host->effect()->initialDelay, 18848);
    EXPECT_EQ(ioChangedCalls(*host), 1u);
}

TEST(SampleRate, UnusableRatesKeepTheGeometry)
{
    auto host = loadPlugin();
    for (float rate : {0.0f, -44100.0f, 4000.0f, 8000.0f, 10000.0f, 1e9f, NAN, INFINITY})
    {
        host->setSampleRate(rate);
        EXPECT_EQ(host->effect()->initialDelay, 9765) << rate;
    }
    EXPECT_EQ(ioChangedCalls(*host), 0u);
    // Audio still runs at the old geometry.
    std::vector<float> input(20000, 0.0f), output(20000, 1.0f);
    host->process(input.data(), output.data(), 20000);
    EXPECT_EQ(*std::max_element(output.begin(), output.end()), 0.0f);
}

TEST(SampleRate, AStreamAfterARateChangeStartsSilentForTheNewDelay)
{
    auto host = loadPlugin();
    host->setSampleRate(48000);
    host->resume();
    const int latency = host->effect()->initialDelay;
    auto input = testsupport::pulseTrain(200.0, 48000.0, 48000);
    auto output = testsupport::processInBlocks(*host, input, 480);
    for (int k = 0; k < latency; ++k)
        ASSERT_EQ(output[k], 0.0f) << k;
}
