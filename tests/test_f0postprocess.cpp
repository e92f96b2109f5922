// Smoothing of the f0 track and snapping to the enabled notes.
#include "f0postprocess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace
{
// Mean of the non-zero values in frames max(0, i-5)..min(m-1, i+5), recomputed for every frame.
std::vector<double> windowMeans(const std::vector<double>& f0)
{
    const int m = static_cast<int>(f0.size());
    std::vector<double> out(m, 0.0);
    for (int i = 0; i < m; ++i)
    {
        if (f0[i] == 0.0) continue;
        double sum = 0.0;
        int count = 0;
        for (int k = std::max(0, i - 5); k <= std::min(m - 1, i + 5); ++k)
            if (f0[k] != 0.0)
            {
                sum += f0[k];
                ++count;
            }
        out[i] = sum / count;
    }
    return out;
}

std::vector<double> smoothed(std::vector<double> f0)
{
    std::vector<double> scratch(f0.size(), -1.0);
    smoothF0Track(f0.data(), static_cast<int>(f0.size()), scratch.data());
    return f0;
}

ControlState onlyNotes(std::initializer_list<int> notes)
{
    ControlState s;
    for (auto& n : s.noteOn)
        n = 0;
    for (int n : notes)
        s.noteOn[n] = 1;
    return s;
}

double note(int n)
{
    return 440.0 * std::pow(2.0, n / 12.0);
}

// Note numbers (semitones from A4) and pitch classes (0 = A).
constexpr int kA = 0, kASharp = 1, kC = 3, kE = 7, kG = 10, kGSharp = 11;
} // namespace

TEST(SmoothF0Track, ZeroFramesStayExactlyZero)
{
    std::vector<double> f0(101, 0.0);
    for (int j = 20; j < 45; ++j)
        f0[j] = 150.0 + 3.0 * std::sin(j * 0.7);
    auto out = smoothed(f0);
    for (int j = 0; j < 101; ++j)
        EXPECT_EQ(out[j] == 0.0, f0[j] == 0.0) << j;
}

TEST(SmoothF0Track, ConstantRunStaysConstant)
{
    std::vector<double> f0(101, 0.0);
    for (int j = 10; j < 90; ++j)
        f0[j] = 217.3;
    auto out = smoothed(f0);
    for (int j = 10; j < 90; ++j)
        EXPECT_NEAR(out[j], 217.3, 1e-9) << j;
}

TEST(SmoothF0Track, EdgeOfAVoicedRunAveragesOnlyVoicedNeighbours)
{
    std::vector<double> f0(101, 0.0);
    const double run[] = {100.0, 200.0, 300.0, 400.0, 500.0, 600.0, 700.0};
    for (int k = 0; k < 7; ++k)
        f0[30 + k] = run[k];
    auto out = smoothed(f0);
    // Frame 30 sees frames 30..35 voiced, 25..29 unvoiced.
    EXPECT_NEAR(out[30], (100.0 + 200.0 + 300.0 + 400.0 + 500.0 + 600.0) / 6.0, 1e-9);
    // Frame 36 sees frames 31..36.
    EXPECT_NEAR(out[36], (200.0 + 300.0 + 400.0 + 500.0 + 600.0 + 700.0) / 6.0, 1e-9);
    EXPECT_EQ(out[29], 0.0);
    EXPECT_EQ(out[37], 0.0);
}

TEST(SmoothF0Track, LoneVoicedFrameKeepsItsValue)
{
    std::vector<double> f0(101, 0.0);
    f0[40] = 123.456;
    EXPECT_EQ(smoothed(f0)[40], 123.456);

    // A run that left the window more than 5 frames earlier does not disturb it either.
    f0[20] = 300.0;
    f0[21] = 310.0;
    f0[33] = 777.7; // 12 frames after the run
    auto out = smoothed(f0);
    EXPECT_NEAR(out[33], 777.7, 1e-9);
    EXPECT_NEAR(out[40], 123.456, 1e-9);
    EXPECT_EQ(out[20], 305.0);
}

TEST(SmoothF0Track, BlockEdgesUseTheShrunkenWindow)
{
    std::vector<double> f0(101);
    for (int j = 0; j < 101; ++j)
        f0[j] = 100.0 + 7.0 * j;
    f0[3] = 0.0;
    f0[97] = 0.0;
    auto out = smoothed(f0);
    EXPECT_NEAR(out[0], (f0[0] + f0[1] + f0[2] + f0[4] + f0[5]) / 5.0, 1e-9);
    EXPECT_NEAR(out[100], (f0[95] + f0[96] + f0[98] + f0[99] + f0[100]) / 5.0, 1e-9);
}

TEST(SmoothF0Track, MatchesTheWindowMeanOnRandomTracks)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> hz(90.0, 640.0);
    std::bernoulli_distribution voiced(0.7);
    for (int m : {6, 7, 11, 100, 101})
        for (int trial = 0; trial < 50; ++trial)
        {
            std::vector<double> f0(m);
            for (auto& v : f0)
                v = voiced(rng) ? hz(rng) : 0.0;
            const auto expected = windowMeans(f0);
            const auto out = smoothed(f0);
            for (int j = 0; j < m; ++j)
                ASSERT_NEAR(out[j], expected[j], 1e-9 * expected[j]) << "m " << m << " frame " << j;
        }
}

TEST(SnapToScale, AllNotesOn)
{
    ControlState all;
    EXPECT_EQ(snapToScale(all, 450.0), 440.0);
    EXPECT_NEAR(snapToScale(all, 453.0), 466.1638, 1e-4); // A#4
    EXPECT_NEAR(snapToScale(all, 220.0), 220.0, 1e-9);
    EXPECT_EQ(snapToScale(all, 440.0), 440.0);
}

TEST(SnapToScale, OnlyCTakesANineSemitoneStepOverAThreeSemitoneOne)
{
    EXPECT_NEAR(snapToScale(onlyNotes({kC}), 440.0), 523.2511, 1e-4); // C5, not C4
}

TEST(SnapToScale, ThousandHertzWithOnlyAGoesTo880)
{
    EXPECT_NEAR(snapToScale(onlyNotes({kA}), 1000.0), 880.0, 1e-9);
}

TEST(SnapToScale, ExactTieGoesToTheLowerNote)
{
    // 440 and 880 Hz lie exactly between G# and A#.
    const auto state = onlyNotes({kGSharp, kASharp});
    EXPECT_NEAR(snapToScale(state, 440.0), note(-1), 1e-9);
    EXPECT_NEAR(snapToScale(state, 880.0), note(11), 1e-9);
}

TEST(SnapToScale, NoEnabledNoteLeavesEveryInputUnchanged)
{
    const auto none = onlyNotes({});
    for (double f : {45.0, 90.0, 123.4, 440.0, 1000.0, 2600.0})
        EXPECT_EQ(snapToScale(none, f), f);
}

TEST(SnapToScale, ValuesThatAreNoPitchPassThrough)
{
    ControlState all;
    EXPECT_TRUE(std::isnan(snapToScale(all, std::nan(""))));
    EXPECT_EQ(snapToScale(all, -220.0), -220.0);
    EXPECT_EQ(snapToScale(all, 0.0), 0.0);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(snapToScale(all, inf), inf);
    EXPECT_EQ(snapToScale(all, -inf), -inf);
    const double tiny = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(snapToScale(all, tiny), tiny);
}

TEST(SnapToScale, ChordNotesPickTheNearestInstanceAtAnyOctave)
{
    const auto ceg = onlyNotes({kC, kE, kG});
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> semis(-40.0, 30.0);
    for (int trial = 0; trial < 500; ++trial)
    {
        const double s = semis(rng);
        const double f = 440.0 * std::pow(2.0, s / 12.0);
        // Nearest C, E or G by brute force over a wide range of octaves.
        int best = 0;
        double bestDistance = 1e9;
        for (int n = -120; n <= 120; ++n)
        {
            const int pc = ((n % 12) + 12) % 12;
            if (pc != kC && pc != kE && pc != kG) continue;
            if (std::fabs(s - n) < bestDistance)
            {
                bestDistance = std::fabs(s - n);
                best = n;
            }
        }
        if (std::fabs(bestDistance - 1.5) < 1e-6 || std::fabs(bestDistance - 2.0) < 1e-6 ||
            std::fabs(bestDistance - 2.5) < 1e-6)
            continue; // near a tie the rounding of s decides
        ASSERT_NEAR(snapToScale(ceg, f), note(best), 1e-9 * note(best)) << f;
    }
}

// The nearest-note search against the plain scan of the three octaves around s (increasing n,
// the first strictly nearer note kept): the same bits for every note set, including exact ties
// and values just around them.
TEST(SnapToScale, SameResultAsTheThreeOctaveScan)
{
    const auto scan = [](const ControlState& state, double f0)
    {
        const double s = (std::log(f0 * 0.0022727272727272726) / std::log(2.0)) * 12.0;
        const int k = static_cast<int>(std::floor(s * 0.08333333333333333));
        double best = 10000000.0;
        int bestNote = 0;
        bool found = false;
        for (int o = k - 1; o <= k + 1; ++o)
            for (int c = 0; c < 12; ++c)
            {
                if (state.noteOn[c] == 0) continue;
                const int n = 12 * o + c;
                if (std::fabs(s - n) < best)
                {
                    best = std::fabs(s - n);
                    bestNote = n;
                    found = true;
                }
            }
        return found ? std::pow(2.0, bestNote * 0.08333333333333333) * 440.0 : f0;
    };
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> semis(-60.0, 50.0);
    for (int trial = 0; trial < 200000; ++trial)
    {
        ControlState state;
        const unsigned mask = static_cast<unsigned>(rng()) & 0xFFF;
        for (int c = 0; c < 12; ++c)
            state.noteOn[c] = (mask >> c) & 1;
        // Every fourth value on or next to a half-semitone, where ties are decided.
        double s = semis(rng);
        if (trial % 4 == 0) s = std::round(s * 2.0) * 0.5;
        double f0 = 440.0 * std::pow(2.0, s / 12.0);
        if (trial % 8 == 4) f0 = std::nextafter(f0, 0.0);
        const double expected = scan(state, f0);
        const double got = snapToScale(state, f0);
        ASSERT_EQ(std::memcmp(&expected, &got, sizeof got), 0) << f0 << " mask " << mask;
    }
}
