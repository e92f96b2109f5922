// Contour selection and repair on candidate maps whose right answer is worked out by hand.
#include "f0contour.h"
#include "f0maptest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

using f0test::CandidateMap;
using f0test::kNone;
using f0test::voicedOn;

namespace
{
constexpr int kBands = 7;
constexpr int kFrames = 101;

std::vector<double> zeros(int m)
{
    return std::vector<double>(m, 0.0);
}
} // namespace

TEST(F0Contour, FrameCount)
{
    EXPECT_EQ(f0FrameCount(8820, 44100), 101);
    EXPECT_EQ(f0FrameCount(9600, 48000), 101);
    EXPECT_EQ(f0FrameCount(1600, 8000), 101);
    EXPECT_EQ(f0FrameCount(13230, 44100), 151);
    EXPECT_EQ(f0FrameCount(0, 44100), 1);
    EXPECT_EQ(f0FrameCount(87, 44100), 1); // 0.986 frames
    EXPECT_EQ(f0FrameCount(89, 44100), 2); // 1.009 frames
    EXPECT_EQ(f0FrameCount(8820, 0), 0);   // no rate, no frames
    EXPECT_EQ(f0FrameCount(-5, 44100), 0);
    EXPECT_EQ(f0FrameCount(2147483647, 1), 0); // beyond any array
}

TEST(F0Contour, AllCandidatesAbsentGiveZerosEverywhere)
{
    CandidateMap map(kBands, kFrames);
    auto t = f0test::trace(map);
    const auto z = zeros(kFrames);
    EXPECT_EQ(t.best, z);
    EXPECT_EQ(t.base, z);
    EXPECT_EQ(t.step1, z);
    EXPECT_EQ(t.step2, z);
    EXPECT_EQ(t.step3, z);
    EXPECT_EQ(t.step4, z);
}

TEST(F0Contour, SteadyBandFillsFramesOneToLast)
{
    for (int m : {101, 151, 40})
    {
        SCOPED_TRACE(m);
        CandidateMap map(kBands, m);
        map.setRange(3, 0, m - 1, 200.0, 0.01);
        auto t = f0test::trace(map);
        EXPECT_EQ(t.best, std::vector<double>(m, 200.0));
        EXPECT_EQ(t.base, voicedOn(m, 6, m - 7, 200.0));
        EXPECT_EQ(t.step1, voicedOn(m, 7, m - 7, 200.0)); // frame 6 fails the jump test
        EXPECT_EQ(t.step2, voicedOn(m, 12, m - 12, 200.0));
        EXPECT_EQ(t.step3, voicedOn(m, 12, m - 1, 200.0));
        EXPECT_EQ(t.step4, voicedOn(m, 1, m - 1, 200.0));
    }
}

TEST(F0Contour, SelectWritesBestAndStepFour)
{
    CandidateMap map(kBands, kFrames);
    map.setRange(3, 0, kFrames - 1, 200.0, 0.01);
    std::vector<double> best(kFrames, -1.0), f0(kFrames, -1.0);
    selectF0Contour(kBands, 8820, 44100, map.f0Map(), map.stabilityMap(), best.data(), f0.data());
    EXPECT_EQ(best, std::vector<double>(kFrames, 200.0));
    EXPECT_EQ(f0, voicedOn(kFrames, 1, kFrames - 1, 200.0));
}

TEST(F0Contour, SingleJumpClearsItsNeighbourhood)
{
    const int j = 50;
    CandidateMap map(kBands, kFrames);
    map.setRange(3, 0, kFrames - 1, 200.0, 0.01);
    map.set(3, j, 210.0, 0.01);
    auto t = f0test::trace(map);

    auto best = std::vector<double>(kFrames, 200.0);
    best[j] = 210.0;
    EXPECT_EQ(t.best, best);
    auto step1 = voicedOn(kFrames, 7, kFrames - 7, 200.0);
    step1[j] = 0.0;     // 5 % above the frame before
    step1[j + 1] = 0.0; // and the way back fails as well
    EXPECT_EQ(t.step1, step1);
    auto step2 = voicedOn(kFrames, 12, kFrames - 12, 200.0);
    for (int i = j - 5; i <= j + 6; ++i)
        step2[i] = 0.0;
    EXPECT_EQ(t.step2, step2);
    // Growing forward reaches the 210 at j, which is 5 % off and ends the growth there.
    auto step3 = voicedOn(kFrames, 12, kFrames - 1, 200.0);
    for (int i = j; i <= j + 6; ++i)
        step3[i] = 0.0;
    EXPECT_EQ(t.step3, step3);
    auto step4 = voicedOn(kFrames, 1, kFrames - 1, 200.0);
    step4[j] = 0.0;
    EXPECT_EQ(t.step4, step4);
}

TEST(F0Contour, NoSteadyFrameLeavesThresholdUndefinedAndClearsNothing)
{
    // Stability 0.07: nothing below 0.05, so the threshold is 0/0 and no frame is cleared; still
    // steady enough (below 0.1) for the sections to grow.
    CandidateMap map(kBands, kFrames);
    map.setRange(2, 0, kFrames - 1, 120.0, 0.07);
    auto t = f0test::trace(map);
    EXPECT_EQ(t.best, std::vector<double>(kFrames, 120.0));
    EXPECT_EQ(t.step2, voicedOn(kFrames, 12, kFrames - 12, 120.0));
    EXPECT_EQ(t.step4, voicedOn(kFrames, 1, kFrames - 1, 120.0));

    // Stability 0.2: selected as BEST but too unsteady to grow a section.
    CandidateMap loose(kBands, kFrames);
    loose.setRange(2, 0, kFrames - 1, 120.0, 0.2);
    auto u = f0test::trace(loose);
    EXPECT_EQ(u.best, std::vector<double>(kFrames, 120.0));
    EXPECT_EQ(u.step3, voicedOn(kFrames, 12, kFrames - 12, 120.0));
    EXPECT_EQ(u.step4, voicedOn(kFrames, 12, kFrames - 12, 120.0));
}

TEST(F0Contour, BlockThresholdIsTwiceTheMeanOfSteadyFrames)
{
    CandidateMap map(kBands, kFrames);
    map.setRange(4, 0, kFrames - 1, 250.0, 0.01);
    map.setRange(4, 40, 49, 250.0, 0.04); // counted in the mean, above twice of it
    map.setRange(4, 60, 61, 250.0, 0.02); // below twice the mean: kept
    map.setRange(4, 70, 70, 250.0, 0.06); // not counted, above the threshold
    const double threshold = (88 * 0.01 + 10 * 0.04 + 2 * 0.02) * 2.0 / 100.0;
    ASSERT_LT(0.02, threshold);
    ASSERT_GT(0.04, threshold);
    auto t = f0test::trace(map);
    auto best = std::vector<double>(kFrames, 250.0);
    for (int i = 40; i <= 49; ++i)
        best[i] = 0.0;
    best[70] = 0.0;
    EXPECT_EQ(t.best, best);
}

TEST(F0Contour, MostStableBandWinsAndTiesKeepTheLowerBand)
{
    CandidateMap map(kBands, kFrames);
    map.set(2, 10, 150.0, 0.03);
    map.set(3, 10, 160.0, 0.02);
    map.set(4, 10, 170.0, 0.02); // tie with band 3: band 3 stays
    map.set(0, 20, 99.0, 0.001); // band 0's value is never copied
    map.set(1, 20, 100.0, 0.001);
    map.set(5, 30, 300.0, 0.01);
    map.set(6, 30, 600.0, 0.009);
    auto t = f0test::trace(map);
    EXPECT_EQ(t.best[10], 160.0);
    EXPECT_EQ(t.best[20], 0.0);
    EXPECT_EQ(t.best[30], 600.0);
}

TEST(F0Contour, ForwardTakesTheClosestBandBackwardTheFirstGoodEnough)
{
    // A steady 200 Hz section at frames 20 ... 80. Outside it two bands offer 199 and 200.5 with a
    // stability too poor for BEST (above the block threshold) but good enough to grow into.
    CandidateMap map(kBands, kFrames);
    map.setRange(3, 20, 80, 200.0, 0.01);
    map.setRange(2, 0, 19, 199.0, 0.09);
    map.setRange(4, 0, 19, 200.5, 0.09);
    map.setRange(2, 81, 100, 199.0, 0.09);
    map.setRange(4, 81, 100, 200.5, 0.09);
    auto t = f0test::trace(map);
    EXPECT_EQ(t.best, voicedOn(kFrames, 20, 80, 200.0));
    EXPECT_EQ(t.step2, voicedOn(kFrames, 26, 75, 200.0));

    // Forward: the nearest stable candidate, 200.5 (0.5 Hz away) rather than 199 (1 Hz away).
    auto step3 = voicedOn(kFrames, 26, 80, 200.0);
    for (int i = 81; i <= 100; ++i)
        step3[i] = 200.5;
    EXPECT_EQ(t.step3, step3);
    // Backward: 199 is within 4 %, so band 4 is never looked at.
    auto step4 = step3;
    for (int i = 20; i <= 25; ++i)
        step4[i] = 200.0;
    for (int i = 1; i <= 19; ++i)
        step4[i] = 199.0;
    EXPECT_EQ(t.step4, step4);
}

TEST(F0Contour, GapIsFilledFromTheLeftFirstThenFromTheRight)
{
    // Two sections, 200 Hz and 220 Hz, with a stable 200 ... 220 ramp in between. The forward pass
    // follows the ramp from the left until the candidate is too far from both v and e; the
    // backward pass fills the rest from the right and stops at the frames already filled.
    CandidateMap map(kBands, kFrames);
    map.setRange(3, 0, 40, 200.0, 0.01);
    map.setRange(3, 60, 100, 220.0, 0.01);
    // Inside the gap the map offers 200 up to frame 49 and 220 from frame 50 on.
    map.setRange(4, 41, 49, 200.0, 0.08);
    map.setRange(4, 50, 59, 220.0, 0.08);
    auto t = f0test::trace(map);
    EXPECT_EQ(t.step2,
              []
              {
                  auto v = voicedOn(kFrames, 12, 35, 200.0);
                  for (int i = 66; i <= 89; ++i)
                      v[i] = 220.0;
                  return v;
              }());
    auto step3 = voicedOn(kFrames, 12, 49, 200.0);
    for (int i = 66; i <= 100; ++i)
        step3[i] = 220.0;
    EXPECT_EQ(t.step3, step3);
    auto step4 = voicedOn(kFrames, 1, 49, 200.0);
    for (int i = 50; i <= 100; ++i)
        step4[i] = 220.0;
    EXPECT_EQ(t.step4, step4);
}

TEST(F0Contour, ResultIsAlwaysACandidateOrZeroAndFrameZeroIsUnvoiced)
{
    // Random maps, some with non-numbers and odd values: every result must be either 0 or one of
    // the map's candidates at that frame, and frame 0 is never filled.
    uint32_t state = 7;
    auto next = [&state]
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    };
    for (int round = 0; round < 300; ++round)
    {
        const int m = 1 + static_cast<int>(next() * 160);
        CandidateMap map(kBands, m);
        const double base = 90.0 + next() * 500.0;
        for (int b = 1; b < kBands; ++b)
            for (int i = 0; i < m; ++i)
            {
                const double pick = next();
                if (pick < 0.6)
                    map.set(b, i, base * (1.0 + 0.03 * (next() - 0.5)), next() * 0.12);
                else if (pick < 0.62)
                    map.set(b, i, std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::quiet_NaN());
                else if (pick < 0.64)
                    map.set(b, i, 90.0 + next() * 550.0, -0.01);
            }
        f0test::Trace t = f0test::trace(map);
        for (int i = 0; i < m; ++i)
        {
            ASSERT_EQ(t.step4[0], 0.0);
            const double v = t.step4[i];
            if (v == 0.0) continue;
            bool found = false;
            for (int b = 1; b < kBands; ++b)
                found = found || map.f0[b][i] == v;
            ASSERT_TRUE(found) << "round " << round << " frame " << i << " value " << v;
        }
    }
}

TEST(F0Contour, TinyAndEmptyBlocksStayUnvoiced)
{
    for (int m : {1, 2, 7, 12, 13, 23})
    {
        CandidateMap map(kBands, m);
        map.setRange(3, 0, m - 1, 200.0, 0.01);
        auto t = f0test::trace(map);
        // A block this short has no frame with five voiced step1 frames on each side.
        EXPECT_EQ(t.step4, zeros(m)) << m;
    }
    // Single-band map: the only row is band 0, never copied.
    CandidateMap one(1, kFrames);
    one.setRange(0, 0, kFrames - 1, 200.0, 0.01);
    EXPECT_EQ(f0test::trace(one).step4, zeros(kFrames));
}
