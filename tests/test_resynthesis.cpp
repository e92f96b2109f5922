// Overlap-add of grains at synthesis pulses: pulse chain, frame limit, formant resampling, ring.
#include "resynthesis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace
{
constexpr int kRate = 44100;
constexpr int kFrames = 101;
constexpr int kN = 2048;
constexpr int kHalf = kN / 2;
constexpr int kLimit = 88;

// Frame data for one call: targets, controls and one grain buffer per frame (all empty at first).
struct Frames
{
    Frames()
        : controls(kFrames), f0(kFrames, 0.0),
          storage(kFrames, std::vector<double>(kHalf + 1, 0.0)), grains(kFrames)
    {
        for (int j = 0; j < kFrames; ++j)
            grains[j] = storage[j].data();
    }

    // Grain samples values[0..] with half length h.
    void setGrain(int j, const std::vector<double>& values, double h)
    {
        std::fill(storage[j].begin(), storage[j].end(), 0.0);
        std::copy(values.begin(), values.end(), storage[j].begin());
        storage[j][kHalf - 1] = h;
    }

    void run(double& pulse, std::vector<double>& ring, int limit = kLimit, double t0 = 0.0,
             int64_t origin = 0) const
    {
        overlapAddGrains(pulse, limit, controls.data(), f0.data(), grains.data(), kN, kRate,
                         ring.data(), static_cast<int>(ring.size()), t0, origin);
    }

    std::vector<ControlState> controls;
    std::vector<double> f0;
    std::vector<std::vector<double>> storage;
    std::vector<const double*> grains;
};

std::vector<double> distinctValues(int n)
{
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = 1.0 + 0.01 * i * i - 0.3 * i;
    return v;
}
} // namespace

TEST(OverlapAdd, FirstPulseInFrameZeroWritesNothingAndMovesTo2Ms)
{
    Frames fr;
    std::vector<double> ring(17640, 0.0);
    double pulse = 0.0;
    fr.run(pulse, ring, 1);
    EXPECT_EQ(pulse, 0.002);
    for (double v : ring)
        ASSERT_EQ(v, 0.0);
}

TEST(OverlapAdd, UnvoicedChainStopsAtTheFrameLimit)
{
    Frames fr;
    std::vector<double> ring(17640, 0.0);
    double pulse = 0.0;
    fr.run(pulse, ring);
    EXPECT_NEAR(pulse, 0.176, 1e-12); // first pulse in frame 88
    EXPECT_EQ(static_cast<int>(pulse * 500.0 + 0.5), kLimit);
}

TEST(OverlapAdd, ZeroFormantCopiesTheGrainFromThePulseOn)
{
    Frames fr;
    const auto values = distinctValues(100);
    fr.setGrain(50, values, 50.0);
    fr.f0[50] = 100.0;
    std::vector<double> ring(17640, 0.0);
    double pulse = 0.1; // frame 50, sample 4410
    fr.run(pulse, ring, 51);
    EXPECT_EQ(pulse, 0.1 + 1.0 / 100.0);
    for (int k = 0; k < 17640; ++k)
    {
        const double expected = (k >= 4410 && k < 4510) ? values[k - 4410] : 0.0;
        ASSERT_EQ(ring[k], expected) << k;
    }
}

TEST(OverlapAdd, FormantUpAnOctaveReadsEverySecondSample)
{
    Frames fr;
    const auto values = distinctValues(102);
    fr.setGrain(50, values, 51.0);
    fr.controls[50].formantCents = 1200.0f;
    fr.f0[50] = 100.0;
    std::vector<double> ring(17640, 0.0);
    double pulse = 0.1;
    fr.run(pulse, ring, 51);
    // n = 2 * floor(51 / 2) = 50 samples
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(ring[4410 + i], values[2 * i]) << i;
    EXPECT_EQ(ring[4410 + 50], 0.0);
    EXPECT_EQ(ring[4409], 0.0);
}

TEST(OverlapAdd, FormantDownAnOctaveInterpolatesHalfway)
{
    Frames fr;
    const auto values = distinctValues(100);
    fr.setGrain(50, values, 50.0);
    fr.controls[50].formantCents = -1200.0f;
    fr.f0[50] = 100.0;
    std::vector<double> ring(17640, 0.0);
    double pulse = 0.1;
    fr.run(pulse, ring, 51);
    // n = 4h = 200 samples; the last reads go past the grain into its zero tail.
    for (int i = 0; i < 200; ++i)
    {
        const int k = i / 2;
        const double expected =
            i % 2 == 0 ? values[k] : 0.5 * (values[k] + (k + 1 < 100 ? values[k + 1] : 0.0));
        ASSERT_NEAR(ring[4410 + i], expected, 1e-12) << i;
    }
    EXPECT_EQ(ring[4410 + 200], 0.0);
}

TEST(OverlapAdd, ReadsStopAtTheLastStoredSample)
{
    // A grain cut to capacity (1023 of 1067 samples): reads past entry 1022 repeat it, never
    // the half-length entry.
    Frames fr;
    const auto values = distinctValues(kHalf - 1);
    fr.setGrain(50, values, 533.0);
    fr.f0[50] = 100.0;
    std::vector<double> ring(17640, 0.0);
    double pulse = 0.1;
    fr.run(pulse, ring, 51);
    for (int i = 0; i < 1023; ++i)
        ASSERT_EQ(ring[4410 + i], values[i]) << i;
    for (int i = 1023; i < 1066; ++i)
        ASSERT_EQ(ring[4410 + i], values[1022]) << i;
    EXPECT_EQ(ring[4410 + 1066], 0.0);
}

TEST(OverlapAdd, EmptyGrainStillAdvancesByOnePeriod)
{
    Frames fr;
    fr.f0[50] = 250.0;
    std::vector<double> ring(17640, 0.0);
    double pulse = 0.1;
    fr.run(pulse, ring, 51);
    EXPECT_EQ(pulse, 0.1 + 1.0 / 250.0);
    for (double v : ring)
        ASSERT_EQ(v, 0.0);
}

TEST(OverlapAdd, RingPositionsWrapAndFollowTheOrigin)
{
    Frames fr;
    const auto values = distinctValues(6);
    fr.setGrain(0, values, 3.0);
    const int ringSize = 17640;
    struct Case
    {
        int64_t origin;
        int64_t firstCell;
    } cases[] = {{ringSize - 3, ringSize - 3},
                 {-10, ringSize - 10},
                 {3000000000LL, 3000000000LL % ringSize},
                 {-3000000000LL, ((-3000000000LL % ringSize) + ringSize) % ringSize}};
    for (const auto& c : cases)
    {
        std::vector<double> ring(ringSize, 0.0);
        double pulse = 0.0;
        fr.run(pulse, ring, 1, 0.0, c.origin);
        for (int i = 0; i < 6; ++i)
            ASSERT_EQ(ring[(c.firstCell + i) % ringSize], values[i]) << c.origin << " " << i;
        double total = 0.0;
        for (double v : ring)
            total += v;
        double expectedTotal = 0.0;
        for (double v : values)
            expectedTotal += v;
        EXPECT_NEAR(total, expectedTotal, 1e-12);
    }
}

// Consecutive blocks the way the effect runs them: the pulse time is kept relative to the block
// being filled and moves back by the block step after each block.
TEST(OverlapAdd, SteadyTargetContinuesAcrossBlocksWithoutGapOrRepeat)
{
    Frames fr;
    for (int j = 0; j < kFrames; ++j)
    {
        fr.f0[j] = j == 0 ? 0.0 : 200.0; // frame 0 is never voiced
        fr.setGrain(j, {1.0, 0.0}, 1.0); // marks each pulse's sample with a 1
    }
    const int step = 8820 - 2205;
    std::vector<double> ring(1 << 20, 0.0); // wide enough to hold every absolute position
    double pulse = 0.0;
    std::vector<int64_t> pulses;
    for (int block = 0; block < 8; ++block)
    {
        const int64_t origin = static_cast<int64_t>(block) * step;
        std::vector<double> before = ring;
        fr.run(pulse, ring, kLimit, 0.0, origin);
        int added = 0;
        for (size_t k = 0; k < ring.size(); ++k)
            if (ring[k] != before[k])
            {
                ASSERT_EQ(ring[k], 1.0) << "pulse repeated at sample " << k;
                pulses.push_back(static_cast<int64_t>(k));
                ++added;
            }
        // Block 0 also covers its first 25 ms (the pulse at 0, then 0.002 s + 5 ms steps up to
        // 0.172 s); every later block the next 0.15 s.
        EXPECT_EQ(added, block == 0 ? 36 : 30) << "block " << block;
        pulse -= static_cast<double>(step) / kRate;
    }
    std::sort(pulses.begin(), pulses.end());
    ASSERT_GE(pulses.size(), 2u);
    EXPECT_EQ(pulses[0], 0);
    EXPECT_EQ(pulses[1], 88);
    for (size_t i = 2; i < pulses.size(); ++i)
    {
        const int64_t gap = pulses[i] - pulses[i - 1];
        ASSERT_TRUE(gap == 220 || gap == 221) << "gap " << gap << " after pulse " << i;
        ASSERT_NEAR(static_cast<double>(pulses[i]), 88.2 + (i - 1) * 220.5, 1.0) << i;
    }
}

TEST(OverlapAdd, TargetsThatAreNoPitchAdvanceAsUnvoiced)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double target : {nan, inf, -inf, -200.0, 0.0})
    {
        Frames fr;
        for (int j = 0; j < kFrames; ++j)
            fr.f0[j] = target;
        std::vector<double> ring(17640, 0.0);
        double pulse = 0.0;
        fr.run(pulse, ring);
        EXPECT_NEAR(pulse, 0.176, 1e-12) << target;
    }
}

TEST(OverlapAdd, HugeTargetStillEndsTheChain)
{
    Frames fr;
    for (int j = 0; j < kFrames; ++j)
    {
        fr.f0[j] = 1e30;
        fr.setGrain(j, {1.0, 0.0}, 1.0);
    }
    std::vector<double> ring(17640, 0.0);
    double pulse = 0.0;
    fr.run(pulse, ring);
    EXPECT_GE(pulse, 0.175);
    EXPECT_LT(pulse, 0.1761);
    // At most one pulse every two samples.
    double total = 0.0;
    for (double v : ring)
        total += v;
    EXPECT_LE(total, 0.176 * kRate / 2 + 2);
    EXPECT_GE(total, 0.175 * kRate / 2 - 2);
}

TEST(OverlapAdd, ExtremeFormantsStayBoundedAndFinite)
{
    for (float cents : {1e9f, -1e9f, -2400.0f, -24000.0f, 3600.0f})
    {
        Frames fr;
        for (int j = 0; j < kFrames; ++j)
        {
            fr.f0[j] = 150.0;
            fr.controls[j].formantCents = cents;
            fr.setGrain(j, distinctValues(300), 150.0);
        }
        std::vector<double> ring(17640 + 64, 0.0);
        double pulse = 0.05;
        overlapAddGrains(pulse, kLimit, fr.controls.data(), fr.f0.data(), fr.grains.data(), kN,
                         kRate, ring.data(), 17640, 0.0, 0);
        for (int k = 0; k < 17640; ++k)
            ASSERT_TRUE(std::isfinite(ring[k])) << cents << " " << k;
        for (int k = 17640; k < 17640 + 64; ++k)
            ASSERT_EQ(ring[k], 0.0) << "write past the ring";
        EXPECT_NEAR(pulse, 0.176, 1.0 / 150.0) << cents;
    }
}

TEST(OverlapAdd, PulseBeforeTheBlockRestartsAtItsStart)
{
    Frames fr;
    fr.setGrain(0, {2.0, 0.0}, 1.0);
    std::vector<double> ring(17640, 0.0);
    double pulse = -1.0;
    fr.run(pulse, ring, 1, 0.0, 100);
    EXPECT_EQ(ring[100], 2.0);
    EXPECT_EQ(pulse, 0.002);
}
