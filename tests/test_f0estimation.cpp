// The f0 estimator: its building blocks checked exactly, and whole blocks of synthetic voice
// whose f0 is known at every frame.
#include "f0estimation.h"
#include "f0signals.h"

#include <gtest/gtest.h>

#include <complex>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

using f0signal::F0Curve;

namespace
{
struct Block
{
    std::vector<double> times;
    std::vector<double> f0;
    std::vector<double> truth;
};

// Runs estimateF0 on the block of a signal that starts at sample start, and tabulates the true
// f0 at each frame time.
Block analyse(const std::vector<double>& signal, size_t start, int rate, const F0Curve& curve)
{
    const int n = static_cast<int>(0.2 * rate);
    const int m = f0FrameCount(n, rate);
    Block b;
    b.times.assign(m, -1.0);
    b.f0.assign(m, -1.0);
    estimateF0(signal.data() + start, n, rate, b.times.data(), b.f0.data());
    for (int i = 0; i < m; ++i)
        b.truth.push_back(curve(static_cast<double>(start) / rate + 0.002 * i));
    return b;
}

using Maker = std::vector<double> (*)(const F0Curve&, double, size_t);

std::vector<double> pulses(const F0Curve& f0, double rate, size_t length)
{
    return f0signal::pulseTrain(f0, rate, length);
}

// What a steady f0 must give at the frames that the contour reaches by extrapolation.
enum class Edges
{
    notJudged,            // f0 not steady
    allVoiced,            // frames 1 ... m - 1 voiced
    voicedWhereMapOffers, // voiced unless the map offers no steady candidate near the truth there
};

struct SignalCase
{
    std::string name;
    F0Curve curve;
    Maker make;
    int rate;
    Edges edges;
};

// True when some band offers a candidate within 4 % of truth that is steady enough (stability
// below 0.1) for the contour to grow into; without one the contour must stop there.
bool mapOffers(const double* x, int n, int rate, int frame, double truth)
{
    const int m = f0FrameCount(n, rate);
    std::vector<double> times(m), f0(static_cast<size_t>(kF0BandCount) * m), stab(f0.size());
    for (int i = 0; i < m; ++i)
        times[i] = (i * 2.0) * 0.001;
    buildF0Map(x, n, rate, times.data(), m, f0.data(), stab.data());
    for (int b = 1; b < kF0BandCount; ++b)
    {
        const double c = f0[static_cast<size_t>(b) * m + frame];
        if (std::fabs(c - truth) <= 0.04 * truth && stab[static_cast<size_t>(b) * m + frame] < 0.1)
            return true;
    }
    return false;
}

// Judges a signal on two blocks: frames 13 ... 87 voiced and within 2 % in at least 98 % of
// them, and the edge frames as c.edges says. Prints the edge frames' figure.
void expectTracked(const SignalCase& c)
{
    SCOPED_TRACE(c.name);
    const size_t length = static_cast<size_t>(0.8 * c.rate);
    const auto signal = c.make(c.curve, c.rate, length);
    for (double startTime : {0.137, 0.4521})
    {
        const size_t start = static_cast<size_t>(startTime * c.rate);
        const Block b = analyse(signal, start, c.rate, c.curve);
        const int m = static_cast<int>(b.f0.size());
        const auto inner = f0signal::score(b.f0, b.truth, 13, 87, 0.02);
        auto edges = f0signal::score(b.f0, b.truth, 1, 12, 0.02);
        const auto tail = f0signal::score(b.f0, b.truth, 88, m - 1, 0.02);
        edges.frames += tail.frames;
        edges.voicedAndClose += tail.voicedAndClose;
        edges.unvoiced += tail.unvoiced;
        edges.worstError = std::fmax(edges.worstError, tail.worstError);
        std::printf("%-28s start %.4f s: frames 13-87 %5.1f %% within 2 %% (worst %.2f %%), "
                    "edge frames %5.1f %% within 2 %% (%d unvoiced, worst %.2f %%)\n",
                    c.name.c_str(), startTime, 100.0 * inner.fraction(), 100.0 * inner.worstError,
                    100.0 * edges.fraction(), edges.unvoiced, 100.0 * edges.worstError);

        bool ok = inner.fraction() >= 0.98;
        EXPECT_GE(inner.fraction(), 0.98) << "start " << startTime;
        EXPECT_EQ(b.f0[0], 0.0);
        for (int i = 1; i < m && c.edges != Edges::notJudged; ++i)
        {
            if (b.f0[i] != 0.0) continue;
            const int n = static_cast<int>(0.2 * c.rate);
            const bool excused = c.edges == Edges::voicedWhereMapOffers &&
                                 !mapOffers(signal.data() + start, n, c.rate, i, b.truth[i]);
            if (excused)
            {
                std::printf("  frame %d unvoiced: no steady candidate within 4 %% in the map\n", i);
                continue;
            }
            ok = false;
            ADD_FAILURE() << "frame " << i << " unvoiced, start " << startTime;
        }
        if (!ok) f0signal::writeTrack(c.name + "-" + std::to_string(start), b.times, b.truth, b.f0);
    }
}

std::string hz(double f)
{
    return std::to_string(static_cast<int>(f)) + "Hz";
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Sizes

TEST(F0Estimation, SizesAt44100And48000)
{
    EXPECT_EQ(decimationFactor(44100), 11);
    EXPECT_EQ(decimatedCount(8820, 11), 802); // y_len = 8820 / 11 + 1
    EXPECT_EQ(f0TransformLength(8820, 44100), 2048);
    EXPECT_EQ(f0FrameCount(8820, 44100), 101);

    EXPECT_EQ(decimationFactor(48000), 12);
    EXPECT_EQ(decimatedCount(9600, 12), 801);
    EXPECT_EQ(f0TransformLength(9600, 48000), 2048);
    EXPECT_EQ(f0FrameCount(9600, 48000), 101);

    EXPECT_EQ(decimationFactor(3999), 0);
    EXPECT_EQ(decimationFactor(22050), 5);
    EXPECT_EQ(decimationFactor(96000), 24);
}

TEST(F0Estimation, DecimateWritesTheStatedCounts)
{
    std::vector<double> x(9600, 0.25), y(1000, -7.0);
    EXPECT_EQ(decimate(x.data(), 8820, 11, y.data()), 802);
    EXPECT_EQ(decimate(x.data(), 9600, 12, y.data()), 801);
    std::fill(y.begin(), y.end(), -7.0);
    EXPECT_EQ(decimate(x.data(), 1600, 2, y.data()), 805); // y_len is 801
    EXPECT_EQ(decimatedCount(1600, 2), 805);
    EXPECT_EQ(y[804] != -7.0 && y[805] == -7.0, true); // nothing past the count
}

TEST(F0Estimation, DecimateRefusesWhatItCannotFilter)
{
    std::vector<double> x(100, 1.0), y(100, -7.0);
    EXPECT_EQ(decimate(x.data(), 9, 2, y.data()), 0); // needs 10 samples for the reflections
    EXPECT_EQ(decimate(x.data(), 100, 1, y.data()), 0);
    EXPECT_EQ(decimate(x.data(), 100, 0, y.data()), 0);
    EXPECT_EQ(y[0], -7.0);
    EXPECT_EQ(decimatedCount(9, 2), 0);
    EXPECT_EQ(decimatedCount(100, 1), 0);
    // Factors without a fixed row decimate with a designed filter.
    EXPECT_EQ(decimate(x.data(), 100, 5, y.data()), decimatedCount(100, 5));
    EXPECT_EQ(decimatedCount(100, 5), 22);
    EXPECT_TRUE(hasDecimationFilter(2) && hasDecimationFilter(4) && hasDecimationFilter(6) &&
                hasDecimationFilter(8) && hasDecimationFilter(11) && hasDecimationFilter(12));
    // Every other factor from 2 up (rates up to 384 kHz) has a designed filter; below 2, none.
    for (int D : {3, 5, 7, 9, 10, 13, 22, 24, 48, 96})
        EXPECT_TRUE(hasDecimationFilter(D)) << D;
    for (int D : {-1, 0, 1, 97})
        EXPECT_FALSE(hasDecimationFilter(D)) << D;
}

// ---------------------------------------------------------------------------------------------
// The decimation filter

namespace
{
struct Row
{
    int D;
    double a1, a2, a3, b0, b1;
};
const Row kRows[] = {
    {2, 0.04115673456775719, -0.42599112459189636, 0.041037215479961225, 0.16797464681802227,
     0.5039239404540667},
    {4, 1.4499664446880227, -0.9894349708095058, 0.24578252340690215, 0.03671075033932261,
     0.11013225101796784},
    {6, 1.971535274951214, -1.4686795689225347, 0.3893908434965701, 0.013469181309343825,
     0.040407543928031475},
    {8, 2.2357462340187593, -1.7780899984041358, 0.4915255536596869, 0.006352276340711199,
     0.019056829022133598},
    {11, 2.450743295230728, -2.06794904601978, 0.595747744383321, 0.0026822508007163792,
     0.008046752402149138},
    {12, 2.4981398605924205, -2.1368928194784025, 0.6218751381622148, 0.0021097275904709,
     0.0063291827714127},
};

// |H| of a row at a frequency given as a fraction of the sample rate.
double gain(const Row& r, double f)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * f0signal::kPi * f);
    const auto num = r.b0 + r.b1 * z1 + r.b1 * z1 * z1 + r.b0 * z1 * z1 * z1;
    const auto den = 1.0 - r.a1 * z1 - r.a2 * z1 * z1 - r.a3 * z1 * z1 * z1;
    return std::abs(num / den);
}
} // namespace

TEST(F0Estimation, LowPassImpulseResponseStartsFromRest)
{
    for (const Row& r : kRows)
    {
        std::vector<double> in(4, 0.0), out(4);
        in[0] = 1.0;
        decimationLowPass(in.data(), 4, r.D, out.data());
        // w = 1, a1, a1^2 + a2, ...; out[k] = b0 w[k] + b1 w[k-1] + b1 w[k-2] + b0 w[k-3].
        const double w1 = r.a1, w2 = r.a1 * r.a1 + r.a2;
        const double w3 = r.a1 * w2 + r.a2 * w1 + r.a3;
        EXPECT_EQ(out[0], r.b0) << r.D;
        EXPECT_DOUBLE_EQ(out[1], r.b0 * w1 + r.b1) << r.D;
        EXPECT_DOUBLE_EQ(out[2], r.b0 * w2 + r.b1 * w1 + r.b1) << r.D;
        EXPECT_DOUBLE_EQ(out[3], r.b0 * w3 + r.b1 * w2 + r.b1 * w1 + r.b0) << r.D;
    }
}

TEST(F0Estimation, LowPassFollowsItsTransferFunction)
{
    // A steady sinusoid comes out with the gain |H| of the row: checks the recursion as a whole.
    for (const Row& r : kRows)
    {
        EXPECT_NEAR(gain(r, 0.0), 1.0, 1e-9) << r.D; // unity at 0 Hz
        for (double f : {0.01 / r.D, 0.3 / r.D, 0.45 / r.D, 0.7 / r.D})
        {
            const int length = 40000;
            const double w = 2.0 * f0signal::kPi * f;
            std::vector<double> x(length), y(length);
            for (int k = 0; k < length; ++k)
                x[k] = std::sin(w * k);
            decimationLowPass(x.data(), length, r.D, y.data());
            // Least-squares fit of a sin + b cos over the settled half.
            double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
            for (int k = length / 2; k < length; ++k)
            {
                const double sk = std::sin(w * k), ck = std::cos(w * k);
                ss += sk * sk;
                cc += ck * ck;
                sc += sk * ck;
                ys += y[k] * sk;
                yc += y[k] * ck;
            }
            const double det = ss * cc - sc * sc;
            const double a = (ys * cc - yc * sc) / det;
            const double b = (yc * ss - ys * sc) / det;
            EXPECT_NEAR(std::hypot(a, b), gain(r, f), 1e-6) << r.D << " at " << f;
        }
    }
}

TEST(F0Estimation, LowPassInPlaceEqualsOutOfPlace)
{
    std::vector<double> x(500);
    for (int k = 0; k < 500; ++k)
        x[k] = std::sin(0.37 * k) + 0.1 * k;
    std::vector<double> out(500), inPlace = x;
    decimationLowPass(x.data(), 500, 11, out.data());
    decimationLowPass(inPlace.data(), 500, 11, inPlace.data());
    EXPECT_EQ(out, inPlace);
}

TEST(F0Estimation, DecimateIsZeroPhaseAndEndsOnTheLastSample)
{
    // A ramp is its own point reflection, and a zero-phase unity-gain filter keeps it: the
    // decimated samples away from the ends read their own input positions.
    for (const auto& [n, D] : {std::pair{8820, 11}, std::pair{9600, 12}, std::pair{1600, 2},
                               std::pair{3200, 4}, std::pair{4800, 6}, std::pair{6400, 8}})
    {
        std::vector<double> x(n), y(decimatedCount(n, D));
        for (int i = 0; i < n; ++i)
            x[i] = 0.001 * i;
        const int count = decimate(x.data(), n, D, y.data());
        ASSERT_EQ(count, static_cast<int>(y.size()));
        const int yLen = n / D + 1;
        for (int k = 0; k < count; ++k)
        {
            const int position = n % D - 1 + k * D; // input sample under y[k]
            if (position < 40 * D || position > n - 40 * D)
                continue; // the filter starts from rest at both ends
            ASSERT_NEAR(y[k], 0.001 * position, 1e-9) << "n " << n << " D " << D << " k " << k;
        }
        EXPECT_EQ(n % D - 1 + (yLen - 1) * D, n - 1);
    }
}

TEST(F0Estimation, DecimateKeepsAPassbandToneAndItsPhase)
{
    // 300 Hz at 44100 Hz, decimated by 11: same amplitude (two passes of |H|) and no delay.
    const int n = 8820, D = 11;
    const double f = 300.0 / 44100.0;
    std::vector<double> x(n), y(decimatedCount(n, D));
    for (int i = 0; i < n; ++i)
        x[i] = std::cos(2.0 * f0signal::kPi * f * i + 0.4);
    decimate(x.data(), n, D, y.data());
    const double g = gain(kRows[4], f);
    for (int k = 40; k < n / D - 40; ++k)
    {
        const int position = n % D - 1 + k * D;
        ASSERT_NEAR(y[k], g * g * std::cos(2.0 * f0signal::kPi * f * position + 0.4), 1e-6) << k;
    }
}

// ---------------------------------------------------------------------------------------------
// Window and events

TEST(F0Estimation, NuttallWindowForBandSix)
{
    std::vector<double> w(12);
    nuttallWindow(12, w.data());
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(w[i], w[11 - i]) << i;
    EXPECT_NEAR(w[0], 0.0046, 5e-5);
    EXPECT_NEAR(w[5], 0.966, 5e-4);
    for (int i = 0; i < 5; ++i)
        EXPECT_LT(w[i], w[i + 1]); // rises to the middle, no zero ends
    EXPECT_GT(w[0], 0.0);
}

TEST(F0Estimation, NuttallWindowIsSymmetricAtEveryBandLength)
{
    for (int L : {12, 16, 24, 36, 52, 72, 100, 7})
    {
        std::vector<double> w(L);
        nuttallWindow(L, w.data());
        for (int i = 0; i < L; ++i)
            ASSERT_EQ(w[i], w[L - 1 - i]) << L << " " << i;
        if (L % 2 == 1)
        {
            EXPECT_NEAR(w[L / 2], 1.0, 1e-12) << L; // the centre of the period
        }
    }
}

TEST(F0Estimation, ZeroCrossingIntervalsOfAnAlternatingSignal)
{
    const double s[] = {1.0, -1.0, 1.0, -1.0, 1.0, -1.0};
    double centres[3], freqs[3];
    int count = -5;
    zeroCrossingIntervals(s, 6, 4000.0, centres, freqs, count);
    // Falling crossings at positions 1.5, 3.5, 5.5 (counted from 1).
    ASSERT_EQ(count, 2);
    EXPECT_EQ(freqs[0], 2000.0);
    EXPECT_EQ(freqs[1], 2000.0);
    EXPECT_DOUBLE_EQ(centres[0], 2.5 / 4000.0);
    EXPECT_DOUBLE_EQ(centres[1], 4.5 / 4000.0);
}

TEST(F0Estimation, ZeroCrossingPositionsAreInterpolated)
{
    const double s[] = {3.0, -1.0, 2.0, 1.0, -3.0};
    double centres[2], freqs[2];
    int count = -5;
    zeroCrossingIntervals(s, 5, 1000.0, centres, freqs, count);
    // Crossings at 1 + 3/4 = 1.75 and 4 + 1/4 = 4.25: one interval of 2.5 samples.
    ASSERT_EQ(count, 1);
    EXPECT_DOUBLE_EQ(freqs[0], 1000.0 / 2.5);
    EXPECT_DOUBLE_EQ(centres[0], 3.0 / 1000.0);
}

TEST(F0Estimation, ZeroCrossingCountsAndNonCrossings)
{
    double centres[4], freqs[4];
    int count = 99;
    const double none[] = {0.0, 0.0, 0.0, 0.0};
    zeroCrossingIntervals(none, 4, 4000.0, centres, freqs, count);
    EXPECT_EQ(count, -1);
    const double touching[] = {1.0, 0.0, -1.0, 0.0, 1.0}; // exact zeros never cross
    zeroCrossingIntervals(touching, 5, 4000.0, centres, freqs, count);
    EXPECT_EQ(count, -1);
    const double rising[] = {-1.0, 1.0, -1.0 + 2.0, 3.0}; // only falling crossings count
    zeroCrossingIntervals(rising, 4, 4000.0, centres, freqs, count);
    EXPECT_EQ(count, -1);
    const double one[] = {1.0, -1.0};
    zeroCrossingIntervals(one, 2, 4000.0, centres, freqs, count);
    EXPECT_EQ(count, 0);
    zeroCrossingIntervals(one, 1, 4000.0, centres, freqs, count);
    EXPECT_EQ(count, -1);
    zeroCrossingIntervals(one, 0, 4000.0, centres, freqs, count);
    EXPECT_EQ(count, -1);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double odd[] = {inf, -1.0, 1.0, -inf, nan, -1.0, 1.0, nan};
    zeroCrossingIntervals(odd, 8, 4000.0, centres, freqs, count);
    EXPECT_EQ(count, -1); // nothing that is not a number takes part
}

// ---------------------------------------------------------------------------------------------
// The candidate map

namespace
{
struct Map
{
    int m;
    std::vector<double> times, f0, stability;
    bool built;
    double at(int band, int frame) const { return f0[static_cast<size_t>(band) * m + frame]; }
    double stab(int band, int frame) const
    {
        return stability[static_cast<size_t>(band) * m + frame];
    }
};

Map mapOf(const std::vector<double>& x, int rate)
{
    Map map;
    const int n = static_cast<int>(x.size());
    map.m = f0FrameCount(n, rate);
    map.times.resize(map.m);
    for (int i = 0; i < map.m; ++i)
        map.times[i] = (i * 2.0) * 0.001;
    map.f0.assign(static_cast<size_t>(kF0BandCount) * map.m, -1.0);
    map.stability.assign(map.f0.size(), -1.0);
    map.built =
        buildF0Map(x.data(), n, rate, map.times.data(), map.m, map.f0.data(), map.stability.data());
    return map;
}

std::vector<double> tone(double f, int rate, int n, double phase = 0.2)
{
    std::vector<double> x(n);
    for (int i = 0; i < n; ++i)
        x[i] = 0.5 * std::sin(2.0 * f0signal::kPi * f * i / rate + phase);
    return x;
}
} // namespace

TEST(F0Estimation, ToneLandsInTheBandsThatAcceptIt)
{
    // 200 Hz is accepted by band 3 (113 ... 226 Hz) and band 4 (160 ... 320 Hz) only.
    const Map map = mapOf(tone(200.0, 44100, 8820), 44100);
    ASSERT_TRUE(map.built);
    for (int i = 0; i < map.m; ++i)
    {
        for (int b : {0, 1, 2, 5, 6})
        {
            ASSERT_EQ(map.at(b, i), 0.0) << b << " " << i;
            ASSERT_EQ(map.stab(b, i), 1e13) << b << " " << i;
        }
    }
    for (int b : {3, 4})
        for (int i = 13; i <= 87; ++i)
        {
            EXPECT_NEAR(map.at(b, i), 200.0, 0.2) << b << " " << i;
            EXPECT_LT(map.stab(b, i), 0.001) << b << " " << i;
        }
}

TEST(F0Estimation, BandZeroNeverHoldsACandidate)
{
    for (double f : {70.0, 79.0, 85.0, 95.0, 150.0, 400.0})
    {
        const Map map = mapOf(tone(f, 44100, 8820), 44100);
        for (int i = 0; i < map.m; ++i)
        {
            ASSERT_EQ(map.at(0, i), 0.0) << f;
            ASSERT_EQ(map.stab(0, i), 1e13) << f;
        }
    }
    const auto voice = f0signal::vowel(f0signal::steady(110.0), 44100, 8820);
    const Map map = mapOf(voice, 44100);
    for (int i = 0; i < map.m; ++i)
        ASSERT_EQ(map.at(0, i), 0.0);
}

TEST(F0Estimation, EveryCandidateLiesInItsBandsRange)
{
    const auto voice = f0signal::vowelI(f0signal::glide(100.0, 600.0, 0.0, 0.2), 44100, 8820);
    const Map map = mapOf(voice, 44100);
    for (int b = 1; b < kF0BandCount; ++b)
    {
        const double edge = std::pow(2.0, b * 0.5) * 80.0;
        for (int i = 0; i < map.m; ++i)
        {
            const double c = map.at(b, i);
            if (c == 0.0) continue;
            ASSERT_LE(c, edge) << b;
            ASSERT_GE(c, std::fmax(90.0, 0.5 * edge)) << b;
            ASSERT_TRUE(std::isfinite(map.stab(b, i)));
        }
    }
}

TEST(F0Estimation, EmptyMapWhenTheBlockCannotBeAnalysed)
{
    const Map shortBlock = mapOf(std::vector<double>(9, 0.5), 44100);
    EXPECT_FALSE(shortBlock.built);
    const Map oddRate = mapOf(tone(200.0, 6000, 1200), 6000); // decimation factor 1
    EXPECT_FALSE(oddRate.built);
    for (double v : oddRate.f0)
        ASSERT_EQ(v, 0.0);
    for (double v : oddRate.stability)
        ASSERT_EQ(v, 1e13);
}

// ---------------------------------------------------------------------------------------------
// Whole blocks

TEST(F0Estimation, SilenceIsUnvoicedAndTimesAreTheFrameGrid)
{
    std::vector<double> x(8820, 0.0), times(101, -1.0), f0(101, -1.0);
    estimateF0(x.data(), 8820, 44100, times.data(), f0.data());
    for (int i = 0; i < 101; ++i)
    {
        EXPECT_EQ(f0[i], 0.0);
        EXPECT_NEAR(times[i], 0.002 * i, 1e-15);
    }
    EXPECT_DOUBLE_EQ(times[100], 0.2);
}

TEST(F0Estimation, TonesBelowNinetyHertzAreUnvoiced)
{
    for (double f : {60.0, 85.0})
    {
        for (int rate : {44100, 48000})
        {
            const int n = static_cast<int>(0.2 * rate);
            auto x = tone(f, rate, n);
            std::vector<double> times(101), f0(101, -1.0);
            estimateF0(x.data(), n, rate, times.data(), f0.data());
            for (int i = 0; i < 101; ++i)
                ASSERT_EQ(f0[i], 0.0) << f << " Hz at " << rate << ", frame " << i;
        }
    }
}

TEST(F0Estimation, RatesWithDesignedFiltersTrackTheVoice)
{
    for (int rate : {12000, 22050, 88200, 96000, 192000})
    {
        const int n = static_cast<int>(0.2 * rate);
        const auto x = f0signal::pulseTrain(f0signal::steady(200.0), rate, n);
        const int m = f0FrameCount(n, rate);
        std::vector<double> times(m, -1.0), f0(m, -1.0);
        estimateF0(x.data(), n, rate, times.data(), f0.data());
        for (int i = 13; i <= 87; ++i)
            ASSERT_NEAR(f0[i], 200.0, 4.0) << rate << " Hz, frame " << i;
    }
}

TEST(F0Estimation, RatesBelowEightKilohertzGiveAnUnvoicedBlock)
{
    for (int rate : {4000, 6000, 7999})
    {
        const int n = static_cast<int>(0.2 * rate);
        const auto x = f0signal::pulseTrain(f0signal::steady(200.0), rate, n);
        const int m = f0FrameCount(n, rate);
        std::vector<double> times(m, -1.0), f0(m, -1.0);
        estimateF0(x.data(), n, rate, times.data(), f0.data());
        for (int i = 0; i < m; ++i)
        {
            ASSERT_EQ(f0[i], 0.0) << rate;
            ASSERT_NEAR(times[i], 0.002 * i, 1e-15) << rate;
        }
    }
}

TEST(F0Estimation, TinyBlocksAndNoRateAreDefined)
{
    std::vector<double> x(16, 0.3), times(4, -1.0), f0(4, -1.0);
    estimateF0(x.data(), 9, 44100, times.data(), f0.data()); // one frame
    EXPECT_EQ(times[0], 0.0);
    EXPECT_EQ(f0[0], 0.0);
    EXPECT_EQ(times[1], -1.0);                               // nothing past m
    estimateF0(x.data(), 16, 4000, times.data(), f0.data()); // 16 samples at 4 kHz: 3 frames
    EXPECT_EQ(f0[2], 0.0);
    EXPECT_EQ(times[3], -1.0);
    std::vector<double> untouched(4, -1.0), untouchedF0(4, -1.0);
    estimateF0(x.data(), 16, 0, untouched.data(), untouchedF0.data());
    estimateF0(x.data(), -3, 44100, untouched.data(), untouchedF0.data());
    EXPECT_EQ(untouched, std::vector<double>(4, -1.0));
    EXPECT_EQ(untouchedF0, std::vector<double>(4, -1.0));
}

TEST(F0Estimation, NonNumbersInTheBlockGiveADefinedTrack)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double bad : {nan, inf, -inf, 1e300})
    {
        auto x = f0signal::pulseTrain(f0signal::steady(200.0), 44100, 8820);
        x[4000] = bad;
        std::vector<double> times(101), f0(101, -1.0);
        estimateF0(x.data(), 8820, 44100, times.data(), f0.data());
        for (int i = 0; i < 101; ++i)
            ASSERT_TRUE(f0[i] == 0.0 || (f0[i] >= 90.0 && f0[i] <= 640.0)) << bad << " " << f0[i];
    }
}

TEST(F0Estimation, SteadyPulseTrainsAndVowels)
{
    for (int rate : {44100, 48000})
        for (double f : {100.0, 150.0, 200.0, 300.0, 450.0, 600.0})
        {
            const auto curve = f0signal::steady(f);
            const std::string tag = hz(f) + "@" + std::to_string(rate);
            // 300 Hz at 48 kHz: see AliasOfAHighHarmonicCanWinTheBlock.
            if (!(f == 300.0 && rate == 48000))
                expectTracked({"pulses " + tag, curve, pulses, rate, Edges::allVoiced});
            expectTracked(
                {"vowel-a " + tag, curve, f0signal::vowel, rate, Edges::voicedWhereMapOffers});
            expectTracked(
                {"vowel-i " + tag, curve, f0signal::vowelI, rate, Edges::voicedWhereMapOffers});
        }
}

TEST(F0Estimation, OtherRatesWithAFilter)
{
    for (int rate : {8000, 16000, 24000, 32000})
        for (double f : {120.0, 200.0, 450.0})
            expectTracked({"pulses " + hz(f) + "@" + std::to_string(rate), f0signal::steady(f),
                           pulses, rate, Edges::allVoiced});
}

TEST(F0Estimation, GlidesAndVibrato)
{
    for (int rate : {44100, 48000})
    {
        const std::string at = "@" + std::to_string(rate);
        // Glides over the whole signal, about an octave per second.
        expectTracked({"glide up 150-300" + at, f0signal::glide(150.0, 300.0, 0.0, 0.8), pulses,
                       rate, Edges::notJudged});
        expectTracked({"glide down 400-250" + at, f0signal::glide(400.0, 250.0, 0.0, 0.8),
                       f0signal::vowel, rate, Edges::notJudged});
        expectTracked({"vibrato 220 3%" + at, f0signal::vibrato(220.0, 0.03, 5.5), pulses, rate,
                       Edges::notJudged});
        expectTracked({"vibrato 330 2%" + at, f0signal::vibrato(330.0, 0.02, 6.0), f0signal::vowel,
                       rate, Edges::notJudged});
    }
}

TEST(F0Estimation, AliasOfAHighHarmonicCanWinTheBlock)
{
    // A strictly periodic 300 Hz pulse train at 48 kHz with harmonics up to 3900 Hz. Decimated by
    // 12 to 4000 Hz, the 13th harmonic folds to exactly 4000 - 3900 = 100 Hz; the third-order
    // decimation filter leaves it some 58 dB down, but band 2 (90 ... 160 Hz) removes 300 Hz even
    // more, so its candidate is that alias, and being a pure sinusoid it is steadier than the
    // true 300 Hz of band 4. The most stable band wins the frame.
    const int rate = 48000, n = 9600;
    const size_t start = static_cast<size_t>(0.137 * rate);
    const auto full = f0signal::pulseTrain(f0signal::steady(300.0), rate, start + n, 4000.0);
    const Map map = mapOf(std::vector<double>(full.begin() + start, full.end()), rate);
    for (int i = 13; i <= 87; ++i)
    {
        ASSERT_NEAR(map.at(2, i), 100.0, 0.5) << i;
        ASSERT_NEAR(map.at(4, i), 300.0, 1.5) << i;
        ASSERT_LT(map.stab(2, i), map.stab(4, i)) << i;
    }
    const Block aliased = analyse(full, start, rate, f0signal::steady(300.0));
    const Block alias = analyse(full, start, rate, f0signal::steady(100.0));
    const auto onAlias = f0signal::score(alias.f0, alias.truth, 13, 87, 0.02);
    std::printf("300 Hz pulses to 3900 Hz @48000: frames 13-87 %.1f %% within 2 %% of 300 Hz, "
                "%.1f %% within 2 %% of the 100 Hz alias\n",
                100.0 * f0signal::score(aliased.f0, aliased.truth, 13, 87, 0.02).fraction(),
                100.0 * onAlias.fraction());

    // Without the folding harmonic the same signal is tracked.
    expectTracked({"pulses 300Hz to 3800Hz@48000", f0signal::steady(300.0),
                   [](const F0Curve& f0, double r, size_t length)
                   { return f0signal::pulseTrain(f0, r, length, 3800.0); },
                   rate, Edges::allVoiced});
}

// The workspace over a stream of overlapping blocks, each block's low-pass started ahead beside
// the previous block's, gives bit for bit the maps and tracks of analysing every block alone
// with the one-call functions.
TEST(F0Workspace, BlocksStartedAheadMatchBlocksAnalysedAlone)
{
    for (int rate : {44100, 48000, 22050})
    {
        const int B = rate / 5, e = rate / 20, m = f0FrameCount(B, rate);
        const auto voice = f0signal::vowel(f0signal::glide(130.0, 420.0, 0.1, 1.2), rate,
                                           static_cast<size_t>(rate) * 3 / 2);
        std::vector<double> times(m), track(m), alone(m), cells(7 * m), stabilities(7 * m);
        F0Workspace workspace(B, rate);
        // Two buffers taking turns, as the effect's do: each block's first e samples are the
        // previous block's last e, there before the previous block is analysed.
        std::vector<double> buffers[2] = {std::vector<double>(B), std::vector<double>(B)};
        for (int block = 0; (block + 1) * (B - e) + e <= static_cast<int>(voice.size()); ++block)
        {
            std::vector<double>& current = buffers[block % 2];
            std::vector<double>& next = buffers[(block + 1) % 2];
            const size_t start = static_cast<size_t>(block) * (B - e);
            std::copy(voice.begin() + start, voice.begin() + start + B, current.begin());
            std::copy(current.end() - e, current.end(), next.begin());

            workspace.loadBlock(current.data(), next.data(), e);
            for (int c = 0; c < 2 * F0Workspace::kLowPassChunks; ++c)
                workspace.lowPassChunk(c);
            workspace.transformBlock();
            for (int i = 0; i < m; ++i)
                times[i] = (i * 2.0) * 0.001;
            for (int b = 0; b < kF0BandCount; ++b)
                workspace.band(b, times.data());
            workspace.select(track.data());

            ASSERT_TRUE(buildF0Map(current.data(), B, rate, times.data(), m, cells.data(),
                                   stabilities.data()));
            for (int b = 0; b < kF0BandCount; ++b)
                for (int i = 0; i < m; ++i)
                {
                    ASSERT_EQ(workspace.f0Map()[b][i], cells[b * m + i]) << rate << " " << block;
                    ASSERT_EQ(workspace.stabilityMap()[b][i], stabilities[b * m + i]);
                }
            estimateF0(current.data(), B, rate, times.data(), alone.data());
            ASSERT_EQ(track, alone) << rate << " block " << block;
        }
    }
}
