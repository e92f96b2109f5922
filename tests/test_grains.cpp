// Pitch marks, anchors and grain cutting on blocks whose waveform peaks are known.
#include "geometry.h"
#include "grains.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace
{
constexpr double kSentinel = -12345.0;
constexpr int kGuard = 16; // guard cells after every grain buffer

double hann(int i, int t)
{
    return 0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 1) / (t + 1));
}

// One analysis block with its frame grid and grain buffers, sized as the effect sizes them.
struct Block
{
    explicit Block(int rate)
        : geom(AnalysisGeometry::forRate(rate)), rate(rate), B(geom.blockLength),
          m(geom.frameCount), N(geom.frameLength), x(B, 0.0), frameTimes(m), f0(m, 0.0),
          storage(m, std::vector<double>(N / 2 + 1 + kGuard, kSentinel)), grains(m)
    {
        for (int j = 0; j < m; ++j)
        {
            frameTimes[j] = 0.002 * j;
            grains[j] = storage[j].data();
        }
    }

    void extract()
    {
        extractFrameGrains(x.data(), B, rate, frameTimes.data(), f0.data(), grains.data(), N);
    }
    double halfLength(int j) const { return storage[j][N / 2 - 1]; }
    bool guardsIntact(int j) const
    {
        for (int k = N / 2; k < N / 2 + 1 + kGuard; ++k)
            if (storage[j][k] != kSentinel) return false;
        return true;
    }

    // Segments, anchors and marks through the public steps, with the phase of a constant f0.
    std::vector<GrainSegment> segments;
    std::vector<double> marks;
    void placeMarks(double phaseF0)
    {
        segments.assign(m, GrainSegment{});
        const int count = splitFrameSegments(f0.data(), m, segments.data());
        segments.resize(count);
        findSegmentAnchors(x.data(), B, rate, 2.0, f0.data(), segments.data(), count);
        std::vector<double> phase(B);
        for (int k = 0; k < B; ++k)
            phase[k] = 2.0 * M_PI * phaseF0 * (k + 1) / rate;
        marks.assign(B, 0.0);
        marks.resize(
            placePitchMarks(phase.data(), B, rate, 2.0, segments.data(), count, marks.data()));
    }

    AnalysisGeometry geom;
    int rate, B, m, N;
    std::vector<double> x, frameTimes, f0;
    std::vector<std::vector<double>> storage;
    std::vector<double*> grains;
};

// Positive peaks (1 with 0.5 on either side) at the given samples.
void addPeaks(std::vector<double>& x, const std::vector<int>& at)
{
    for (int p : at)
    {
        x[p] += 1.0;
        x[p - 1] += 0.5;
        x[p + 1] += 0.5;
    }
}

// Peak positions of a pulse train with the given period, starting at first.
std::vector<int> pulsePositions(double first, double period, int B)
{
    std::vector<int> out;
    for (double p = first; p < B - 2; p += period)
        out.push_back(static_cast<int>(std::lround(p)));
    return out;
}

std::vector<double> marksBetween(const std::vector<double>& marks, double from, double to)
{
    std::vector<double> out;
    for (double t : marks)
        if (t >= from && t < to) out.push_back(t);
    return out;
}
} // namespace

TEST(SegmentAnchors, AllUnvoicedBlockIsOneSegmentAnchoredAtFrame50)
{
    Block b(44100);
    // Frame 50 lies at sample 4410; its 500 Hz search covers samples 4322..4497.
    addPeaks(b.x, {4400});
    addPeaks(b.x, {4600, 4601}); // larger, but outside the search
    b.x[4350] = 0.8;             // smaller, inside it
    b.placeMarks(500.0);
    ASSERT_EQ(b.segments.size(), 1u);
    EXPECT_EQ(b.segments[0].st, 0);
    EXPECT_EQ(b.segments[0].ed, 100);
    EXPECT_EQ(b.segments[0].a0, 4400);
    EXPECT_EQ(b.segments[0].a1, -1);
}

TEST(SegmentAnchors, NoPositivePeakFallsBackToTheSearchStart)
{
    Block b(44100);
    std::fill(b.x.begin(), b.x.end(), -0.25);
    b.placeMarks(500.0);
    ASSERT_EQ(b.segments.size(), 1u);
    EXPECT_EQ(b.segments[0].a0, 4410 - 88);
}

TEST(SegmentAnchors, EqualPeaksGiveTheEarliest)
{
    Block b(44100);
    addPeaks(b.x, {4340, 4420, 4480});
    b.placeMarks(500.0);
    EXPECT_EQ(b.segments[0].a0, 4340);
}

TEST(PitchMarks, UnvoicedMarksFallEvery2MsWithOneBeforeTheAnchor)
{
    Block b(44100);
    addPeaks(b.x, {4400});
    b.placeMarks(500.0);
    ASSERT_GE(b.marks.size(), 98u);
    ASSERT_LE(b.marks.size(), 101u);
    EXPECT_NE(std::find(b.marks.begin(), b.marks.end(), 4399.0 / 44100), b.marks.end());
    for (size_t i = 0; i < b.marks.size(); ++i)
    {
        const double sample = b.marks[i] * 44100;
        EXPECT_NEAR(sample, std::round(sample), 1e-6) << "mark off the sample grid";
        if (i > 0)
        {
            const double gap = std::round(sample) - std::round(b.marks[i - 1] * 44100);
            EXPECT_TRUE(gap == 88.0 || gap == 89.0) << "gap " << gap << " at mark " << i;
        }
    }
    EXPECT_LT(b.marks.front() * 44100, 89.0);
    EXPECT_GT(b.marks.back() * 44100, 8819.0 - 89.0);
}

TEST(PitchMarks, ShortVoicedStretchHasOneAnchorAndMarksOnePeriodApart)
{
    Block b(44100);
    for (int j = 30; j < 50; ++j) // 20 frames
        b.f0[j] = 200.0;
    addPeaks(b.x, pulsePositions(2650.3, 220.5, b.B));
    b.placeMarks(200.0); // the phase of the voiced stretch
    ASSERT_EQ(b.segments.size(), 3u);
    const GrainSegment& voiced = b.segments[1];
    EXPECT_EQ(voiced.a1, -1);
    // Middle frame 40 lies at sample 3528; the earliest peak in 3528-221+1 .. 3528+221-2 wins.
    const auto peaks = pulsePositions(2650.3, 220.5, b.B);
    const int expected = *std::find_if(peaks.begin(), peaks.end(), [](int p) { return p >= 3308; });
    EXPECT_EQ(voiced.a0, expected);

    auto inStretch = marksBetween(b.marks, 0.060, 0.100);
    ASSERT_GE(inStretch.size(), 7u); // 40 ms of a 5 ms period
    EXPECT_NE(std::find(inStretch.begin(), inStretch.end(), (voiced.a0 - 1) / 44100.0),
              inStretch.end());
    for (size_t i = 1; i < inStretch.size(); ++i)
    {
        const double gap = std::round((inStretch[i] - inStretch[i - 1]) * 44100);
        EXPECT_TRUE(gap == 220.0 || gap == 221.0) << gap;
    }
}

TEST(PitchMarks, LongVoicedStretchIsFittedOntoItsSecondAnchor)
{
    Block b(44100);
    for (int j = 30; j < 70; ++j) // 40 frames
        b.f0[j] = 200.0;
    const auto peaks = pulsePositions(2650.3, 220.5, b.B);
    addPeaks(b.x, peaks);
    b.placeMarks(200.0);
    ASSERT_EQ(b.segments.size(), 3u);
    const GrainSegment& voiced = b.segments[1];
    // Anchor frames 42 (sample 3704) and 57 (sample 5027), each on the earliest peak of its
    // two-period search.
    auto firstPeakFrom = [&](int s)
    { return *std::find_if(peaks.begin(), peaks.end(), [s](int p) { return p >= s; }); };
    EXPECT_EQ(voiced.a0, firstPeakFrom(3704 - 221 + 1));
    EXPECT_EQ(voiced.a1, firstPeakFrom(5027 - 221 + 1));

    const double A1 = voiced.a1 / 44100.0;
    auto inStretch = marksBetween(b.marks, 0.060, 0.140);
    const double nearest = *std::min_element(inStretch.begin(), inStretch.end(),
                                             [A1](double a, double c)
                                             { return std::fabs(a - A1) < std::fabs(c - A1); });
    EXPECT_NEAR(nearest, A1, 1e-12);
    for (size_t i = 1; i < inStretch.size(); ++i)
        EXPECT_NEAR((inStretch[i] - inStretch[i - 1]) * 44100, 220.5, 1.5);
}

// A stretch of 25 frames puts both anchor frames on st + 12, and stretches up to 28 frames can
// find the same peak twice; the marks must still follow the voice one period apart.
TEST(PitchMarks, StretchesOf25To28FramesKeepTheirMarksApart)
{
    for (int length = 25; length <= 28; ++length)
        for (double first : {2650.3, 2700.0, 2777.7})
        {
            Block b(44100);
            const int st = 30;
            for (int j = st; j < st + length; ++j)
                b.f0[j] = 200.0;
            addPeaks(b.x, pulsePositions(first, 220.5, b.B));
            b.placeMarks(200.0);
            ASSERT_EQ(b.segments.size(), 3u);
            auto inStretch = marksBetween(b.marks, st * 0.002, (st + length) * 0.002);
            SCOPED_TRACE("length " + std::to_string(length) + " first peak " +
                         std::to_string(first));
            ASSERT_GE(inStretch.size(), static_cast<size_t>(length * 88.2 / 220.5) - 1);
            for (size_t i = 1; i < inStretch.size(); ++i)
                EXPECT_NEAR((inStretch[i] - inStretch[i - 1]) * 44100, 220.5, 2.0);
        }
}

// The marks fall where the anchor-relative phase, reduced into [0, 2 pi) by fmod, wraps; the fast
// reduction must find exactly those, also where the phase lands on whole turns of the anchor's,
// barely moves, falls, or grows beyond the range its shortcut covers.
TEST(PitchMarks, WrapsAreExactlyThoseOfFmod)
{
    const int rate = 44100, B = 8820;
    const double twoPi = 6.283185307179586;
    const auto fmodMarks = [&](const std::vector<double>& phase, const GrainSegment& seg)
    {
        std::vector<double> w(B), marks;
        const int64_t start =
            static_cast<int64_t>(seg.st * static_cast<double>(rate) * 2.0 * 0.001);
        const int64_t end = std::min<int64_t>(
            B - 1,
            static_cast<int64_t>((seg.ed + 1) * static_cast<double>(rate) * 2.0 * 0.001 + 0.5) - 1);
        for (int64_t k = start; k < end; ++k)
        {
            const double d = phase[k] - phase[seg.a0];
            w[k] = std::fmod(d + twoPi * std::floor(std::fabs(d) / twoPi + 1.0), twoPi);
        }
        for (int64_t k = start; k + 1 < end; ++k)
            if (w[k] > w[k + 1] && std::trunc(static_cast<double>(k) / rate * rate) < B)
                marks.push_back(static_cast<double>(k) / rate);
        return marks;
    };

    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 60; ++trial)
    {
        std::vector<double> phase(B);
        double acc = 0.0;
        const int kind = trial % 5;
        for (int k = 0; k < B; ++k)
        {
            if (kind == 0) acc += twoPi * (90.0 + 500.0 * unit(rng)) / rate; // a voice
            if (kind == 1) acc = twoPi * std::floor(k / 7.0);                // whole turns
            if (kind == 2) acc += 1e-11 * unit(rng);                         // nearly still
            if (kind == 3) acc += (k % 400 < 200 ? 1.0 : -1.0) * 0.05;       // falling too
            if (kind == 4) acc = 2e6 + k * 0.37;                             // beyond the shortcut
            phase[k] = acc;
        }
        GrainSegment seg;
        seg.st = 0;
        seg.ed = 100;
        seg.a0 = static_cast<int>(unit(rng) * (B - 1));
        seg.a1 = -1;
        std::vector<double> marks(B);
        const int count = placePitchMarks(phase.data(), B, rate, 2.0, &seg, 1, marks.data());
        marks.resize(count);
        ASSERT_EQ(marks, fmodMarks(phase, seg)) << "trial " << trial;
    }
}

TEST(CutGrain, CentredOnTheNearestMark)
{
    const int rate = 44100, B = 8820, N = 2048;
    std::vector<double> x(B);
    for (int k = 0; k < B; ++k)
        x[k] = k;
    const std::vector<double> marks = {0.05, 0.1, 0.15};
    std::vector<double> grain(N / 2 + 1, kSentinel);
    cutGrain(x.data(), B, rate, marks.data(), 3, 0.11, 200.0, grain.data(), N);
    // Mark 0.1 s is sample 4410, so o = 4411; one period is 221 and the grain 441 samples.
    for (int i = 0; i < 441; ++i)
        ASSERT_NEAR(grain[i], hann(i, 441) * (4411 - 221 + i), 1e-9) << i;
    for (int i = 441; i < N / 2 - 1; ++i)
        ASSERT_EQ(grain[i], 0.0) << i;
    EXPECT_EQ(grain[N / 2 - 1], 220.0);
    EXPECT_EQ(grain[N / 2], kSentinel);
}

TEST(CutGrain, EqualDistancesPickTheEarlierMark)
{
    const int rate = 1000, B = 10000, N = 256;
    std::vector<double> x(B);
    for (int k = 0; k < B; ++k)
        x[k] = k;
    const std::vector<double> marks = {2.0, 4.0};
    std::vector<double> grain(N / 2 + 1);
    cutGrain(x.data(), B, rate, marks.data(), 2, 3.0, 100.0, grain.data(), N);
    EXPECT_NEAR(grain[10], hann(10, 20) * (2001 - 10 + 10), 1e-9);
}

TEST(CutGrain, GrainReachingTheLastSampleIsEmpty)
{
    const int rate = 1000, B = 1000, N = 256;
    std::vector<double> x(B, 1.0);
    std::vector<double> grain(N / 2 + 1, kSentinel);
    // f = 100 Hz: u = 10, t = 20; empty exactly when o >= B - 10 = 990.
    double mark = 0.989; // o = 990
    cutGrain(x.data(), B, rate, &mark, 1, 0.9, 100.0, grain.data(), N);
    for (int i = 0; i < N / 2; ++i)
        ASSERT_EQ(grain[i], 0.0) << i;
    EXPECT_EQ(grain[N / 2], kSentinel);

    mark = 0.988; // o = 989: the grain ends on sample 998
    cutGrain(x.data(), B, rate, &mark, 1, 0.9, 100.0, grain.data(), N);
    EXPECT_EQ(grain[N / 2 - 1], 10.0);
    EXPECT_EQ(grain[0], hann(0, 20));
}

TEST(CutGrain, EmptyMarkListCutsAtTheBlockStart)
{
    const int rate = 1000, B = 1000, N = 256;
    std::vector<double> x(B);
    for (int k = 0; k < B; ++k)
        x[k] = k + 1.0;
    std::vector<double> grain(N / 2 + 1);
    cutGrain(x.data(), B, rate, nullptr, 0, 0.5, 100.0, grain.data(), N);
    // o = 0, so the grain starts at sample -10, clamped to sample 0 for its first ten values.
    EXPECT_EQ(grain[N / 2 - 1], 10.0);
    EXPECT_NEAR(grain[5], hann(5, 20) * 1.0, 1e-12);
    EXPECT_NEAR(grain[15], hann(15, 20) * 6.0, 1e-12);
}

TEST(CutGrain, NinetyHertzAt48kHzIsCutToCapacity)
{
    const int rate = 48000, B = 9600, N = 2048;
    std::vector<double> x(B, 1.0);
    std::vector<double> grain(N / 2 + 1, kSentinel);
    const double mark = 0.1;
    cutGrain(x.data(), B, rate, &mark, 1, 0.1, 90.0, grain.data(), N);
    // Two periods are 1067 samples; 1023 fit.
    for (int i = 0; i < 1023; ++i)
        ASSERT_EQ(grain[i], hann(i, 1067)) << i;
    EXPECT_EQ(grain[1023], 533.0);
    EXPECT_EQ(grain[1024], kSentinel);
}

TEST(ExtractFrameGrains, AllUnvoicedBlockGives176SampleGrains)
{
    Block b(44100);
    std::fill(b.x.begin(), b.x.end(), 1.0);
    b.extract();
    for (int i = 0; i < b.N / 2; ++i)
        ASSERT_EQ(b.storage[0][i], 0.0) << "frame 0, entry " << i;
    for (int j = 1; j <= 98; ++j)
    {
        ASSERT_EQ(b.halfLength(j), 88.0) << j;
        for (int i = 0; i < 176; ++i)
            ASSERT_EQ(b.storage[j][i], hann(i, 176)) << "frame " << j << " sample " << i;
        for (int i = 176; i < b.N / 2 - 1; ++i)
            ASSERT_EQ(b.storage[j][i], 0.0) << "frame " << j << " entry " << i;
    }
    // Frame 100's nearest mark is within a period of the block's end.
    for (int i = 0; i < b.N / 2; ++i)
        ASSERT_EQ(b.storage[100][i], 0.0) << i;
    for (int j = 0; j < b.m; ++j)
        EXPECT_TRUE(b.guardsIntact(j)) << j;
}

TEST(ExtractFrameGrains, GrainsSitOnMarksNearTheirFrames)
{
    Block b(44100);
    for (int k = 0; k < b.B; ++k)
        b.x[k] = 1000.0 + k;
    for (int j = 20; j < 80; ++j)
        b.f0[j] = 150.0;
    b.extract();
    for (int j = 1; j <= 95; ++j)
    {
        const bool voiced = b.f0[j] != 0.0;
        const int t = voiced ? 588 : 176;
        ASSERT_EQ(b.halfLength(j), t / 2) << j;
        // The ramp tells where the grain was taken; its centre is the nearest mark + 1/2 sample,
        // within half a mark gap of the frame time: unvoiced gaps are 88-89 samples (up to one
        // gap at a segment's first frame), voiced ones 294 stretched by a few percent, and at a
        // voiced stretch's end up to one voiced plus one unvoiced gap.
        const int i = t / 2;
        const double start = b.storage[j][i] / hann(i, t) - 1000.0 - i;
        EXPECT_NEAR(start, std::round(start), 1e-6) << j;
        const double centre = start + (t - 1) / 2.0;
        EXPECT_NEAR(centre, 0.002 * j * 44100, voiced ? 205.0 : 92.0) << j;
    }
}

TEST(ExtractFrameGrains, At48kHzTheLastFrameTakesNoPart)
{
    Block b(48000);
    ASSERT_EQ(b.m, 101);
    std::fill(b.x.begin(), b.x.end(), 1.0);
    for (int j = 1; j < b.m; ++j)
        b.f0[j] = 90.0;
    b.extract();
    for (int j = 1; j <= 90; ++j)
    {
        ASSERT_EQ(b.halfLength(j), 533.0) << j;
        ASSERT_EQ(b.storage[j][1022], hann(1022, 1067)) << j;
    }
    for (int i = 0; i < b.N / 2 + 1; ++i)
        ASSERT_EQ(b.storage[100][i], kSentinel) << i;
}

TEST(ExtractFrameGrains, AnyF0StaysInsideTheBuffers)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> wild = {45.0, 2600.0, 1e5, 1e-3, 3000.0, -5.0, nan, inf, 30.0, 1e300};
    for (int rate : {9200, 22050, 44100, 48000, 96000})
        for (int pattern = 0; pattern < 2; ++pattern)
        {
            Block b(rate);
            for (int k = 0; k < b.B; ++k)
                b.x[k] = std::sin(0.031 * k) + 0.3 * std::sin(0.17 * k);
            for (int j = 1; j < b.m; ++j)
                b.f0[j] = pattern == 0 ? ((j / 7) % 2 ? wild[(j / 7) % wild.size()] : 0.0)
                                       : (j % 2 ? wild[j % wild.size()] : 0.0);
            b.extract();
            for (int j = 0; j < b.m; ++j)
            {
                ASSERT_TRUE(b.guardsIntact(j)) << rate << " frame " << j;
                for (int i = 0; i < b.N / 2; ++i)
                    ASSERT_TRUE(std::isfinite(b.storage[j][i])) << rate << " frame " << j;
            }
        }
}

TEST(ExtractFrameGrains, UnusableFrameGridLeavesSilence)
{
    Block b(44100);
    std::fill(b.x.begin(), b.x.end(), 1.0);
    std::fill(b.frameTimes.begin(), b.frameTimes.end(), 0.0);
    b.extract();
    for (int j = 0; j < b.m; ++j)
        EXPECT_EQ(b.halfLength(j), 0.0) << j;
}
