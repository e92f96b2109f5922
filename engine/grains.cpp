#include "grains.h"

#include "interpolate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

#include "simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(HALVERN_AVX2_KERNELS)
#include <immintrin.h>
#endif
#include <vector>

namespace
{
constexpr double kTwoPi = 6.283185307179586;
constexpr double kUnvoicedF0 = 500.0; // unvoiced stretches are cut as if voiced at 500 Hz

// floor(v) as an integer, saturated far outside any block so that wild values stay defined.
int64_t floorIndex(double v)
{
    constexpr double limit = 1e15;
    if (std::isnan(v)) return 0;
    return static_cast<int64_t>(std::floor(std::clamp(v, -limit, limit)));
}

int64_t clampIndex(int64_t k, int B)
{
    return std::clamp<int64_t>(k, 0, B - 1);
}

// f0 values that cannot describe a period fall back to the unvoiced rate.
double usableF0(double f)
{
    return (f > 0.0 && std::isfinite(f)) ? f : kUnvoicedF0;
}

// trunc(v) for |v| < 2e9 (+-2e9 beyond, 2e9 for NaN): a conversion the compiler can vectorise.
double truncBelow2e9(double v)
{
    return static_cast<double>(static_cast<int32_t>(v < 2e9 ? (v > -2e9 ? v : -2e9) : 2e9));
}

// floor(v) for v >= 0 by truncation, which needs no call into the maths library; values too large
// for a 64-bit integer (and NaN) take std::floor.
double floorOfPositive(double v)
{
    return v < 9e15 ? static_cast<double>(static_cast<int64_t>(v)) : std::floor(v);
}

void clearGrain(double* grain, int N)
{
    std::fill(grain, grain + N / 2, 0.0);
}
} // namespace

// Audio thread: no allocation, no lock, no I/O.
int splitFrameSegments(const double* f0Track, int T, GrainSegment* segments)
{
    int count = 0;
    for (int j = 0; j < T; ++j)
    {
        const bool voiced = f0Track[j] != 0.0;
        if (count > 0 && (f0Track[segments[count - 1].st] != 0.0) == voiced)
        {
            segments[count - 1].ed = j;
            continue;
        }
        GrainSegment s;
        s.st = j;
        s.ed = j;
        segments[count++] = s;
    }
    return count;
}

namespace
{
// Two periods of any f0 down to 40 Hz; longer periods are cut to fit.
int peakCapacity(int rate)
{
    return static_cast<int>(2.0 * rate * 0.025);
}

// findSegmentAnchors over caller scratch v of max(peakCapacity(rate), 2) values.
void anchorSegments(const double* x, int B, int rate, double P, const double* f0Track,
                    GrainSegment* segments, int segmentCount, double* v)
{
    const int capacity = peakCapacity(rate);

    auto anchorAt = [&](int c, int& period)
    {
        const double f = f0Track[c] == 0.0 ? kUnvoicedF0 : usableF0(f0Track[c]);
        const int64_t T0 = std::min<int64_t>(floorIndex(rate / f + 0.5), capacity / 2);
        period = static_cast<int>(T0);
        const int64_t nc = floorIndex(c * P * rate * 0.001 + 0.5);
        const int64_t n = 2 * T0;
        for (int64_t i = 0; i < n; ++i)
            v[i] = x[clampIndex(nc - T0 + i, B)];
        // Signed sums: the anchor sits on the voice's positive peak, the earliest of equal ones.
        double best = 0.0;
        int64_t bestI = 0;
        for (int64_t i = 1; i + 1 < n; ++i)
        {
            const double sum = v[i - 1] + v[i] + v[i + 1];
            if (sum > best)
            {
                best = sum;
                bestI = i;
            }
        }
        return static_cast<int>(clampIndex(nc - T0 + bestI, B));
    };

    for (int s = 0; s < segmentCount; ++s)
    {
        GrainSegment& seg = segments[s];
        int period = 0;
        if (f0Track[seg.st] == 0.0 || seg.ed - seg.st < 24)
        {
            seg.a0 = anchorAt((seg.st + seg.ed + 1) / 2, period);
            seg.a1 = -1;
            seg.period1 = 0;
        }
        else
        {
            seg.a0 = anchorAt(seg.st + 12, period);
            seg.a1 = anchorAt(seg.ed - 12, seg.period1);
        }
    }
}
} // namespace

// Audio thread: allocates its peak-search scratch per call; no lock, no I/O.
void findSegmentAnchors(const double* x, int B, int rate, double P, const double* f0Track,
                        GrainSegment* segments, int segmentCount)
{
    std::vector<double> v(std::max(peakCapacity(rate), 2));
    anchorSegments(x, B, rate, P, f0Track, segments, segmentCount, v.data());
}

namespace
{
// How close to a turn boundary, or to each other, wrapped phases computed by multiplies may be
// before fmod must decide: far above their error.
constexpr double kWrapGuard = 1e-9;

// The anchor-relative phase d shifted by whole turns, d + 2 pi floor(|d| / 2 pi + 1), and its
// remainder by 2 pi: the wrapped phase whose wraps make the marks.
double shiftedPhase(double d)
{
    return d + kTwoPi * floorOfPositive(std::fabs(d) / kTwoPi + 1.0);
}

#if defined(HALVERN_AVX2_KERNELS)
// The four-lane twin of the SSE2 loop in wrappedPhases: w[k] by multiplies for k from start on,
// four at a time; refused receives, per group of four, a bit for each lane that must be left to
// fmod. Returns the samples done.
HALVERN_TARGET_AVX2 int64_t wrappedPhasesAvx2(const double* phase, double ref, int64_t start,
                                              int64_t end, double* w, uint8_t* refused)
{
    const __m256d refs = _mm256_set1_pd(ref);
    const __m256d inverse = _mm256_set1_pd(1.0 / kTwoPi);
    const __m256d turn = _mm256_set1_pd(kTwoPi);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d low = _mm256_set1_pd(kWrapGuard);
    const __m256d high = _mm256_set1_pd(1.0 - kWrapGuard);
    const __m256d turnHigh = _mm256_set1_pd(kTwoPi - kWrapGuard);
    const __m256d largest = _mm256_set1_pd(1e6);
    const __m256d limit = _mm256_set1_pd(2e9);
    const __m256d lowest = _mm256_set1_pd(-2e9);
    const __m256d sign = _mm256_set1_pd(-0.0);
    int64_t k = start;
    for (; k + 3 < end; k += 4)
    {
        const __m256d d = _mm256_sub_pd(_mm256_loadu_pd(phase + k), refs);
        const __m256d magnitude = _mm256_andnot_pd(sign, d);
        const __m256d turns = _mm256_add_pd(_mm256_mul_pd(magnitude, inverse), one);
        const __m256d whole = _mm256_cvtepi32_pd(
            _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(turns, limit), lowest)));
        const __m256d a = _mm256_add_pd(d, _mm256_mul_pd(turn, whole));
        const __m256d quotient = _mm256_mul_pd(a, inverse);
        const __m256d turnsInA = _mm256_cvtepi32_pd(
            _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(quotient, limit), lowest)));
        const __m256d r = _mm256_sub_pd(a, _mm256_mul_pd(turnsInA, turn));
        const __m256d fraction = _mm256_sub_pd(turns, whole);
        __m256d kept = _mm256_cmp_pd(magnitude, largest, _CMP_LT_OQ);
        kept = _mm256_and_pd(kept, _mm256_cmp_pd(fraction, low, _CMP_GE_OQ));
        kept = _mm256_and_pd(kept, _mm256_cmp_pd(fraction, high, _CMP_LE_OQ));
        kept = _mm256_and_pd(kept, _mm256_cmp_pd(r, low, _CMP_GE_OQ));
        kept = _mm256_and_pd(kept, _mm256_cmp_pd(r, turnHigh, _CMP_LE_OQ));
        _mm256_storeu_pd(w + k, r);
        refused[(k - start) / 4] = static_cast<uint8_t>(_mm256_movemask_pd(kept) ^ 15);
    }
    return k - start;
}

// The phase increments 2 pi f / rate, four at a time; returns the count done.
HALVERN_TARGET_AVX2 int incrementsAvx2(const double* f, double rate, int count, double* out)
{
    const __m256d turn = _mm256_set1_pd(kTwoPi);
    const __m256d rates = _mm256_set1_pd(rate);
    int k = 0;
    for (; k + 3 < count; k += 4)
        _mm256_storeu_pd(out + k,
                         _mm256_div_pd(_mm256_mul_pd(turn, _mm256_loadu_pd(f + k)), rates));
    return k;
}
#endif

// w[k] = fmod(shiftedPhase(phase[k] - ref), 2 pi) for k in [start, end). fmod is exact but slow;
// the turns and the remainder by multiplies are within 1e-12 of the exact ones for phases below
// 1e6 radians, so they are kept wherever they cannot differ from fmod's result by more than that:
// away from the ends of [0, 2 pi) and from whole turns. Elsewhere fmod gives the value.
void wrappedPhases(const double* phase, double ref, int64_t start, int64_t end, double* w)
{
    const auto exact = [&](int64_t k) { return std::fmod(shiftedPhase(phase[k] - ref), kTwoPi); };
    int64_t k = start;
#if defined(HALVERN_AVX2_KERNELS)
    if (processorHasAvx2)
    {
        // Refused lanes of up to 256 groups of four at a time, in a table on the stack.
        uint8_t refused[256];
        while (end - k >= 4)
        {
            const int64_t chunk = std::min<int64_t>(end - k, 4 * 256);
            const int64_t done = wrappedPhasesAvx2(phase, ref, k, k + chunk, w, refused);
            for (int64_t g = 0; g < done / 4; ++g)
                if (refused[g])
                    for (int lane = 0; lane < 4; ++lane)
                        if (refused[g] & (1 << lane)) w[k + 4 * g + lane] = exact(k + 4 * g + lane);
            k += done;
        }
    }
#endif
#if defined(__SSE2__)
    const __m128d refs = _mm_set1_pd(ref);
    const __m128d inverse = _mm_set1_pd(1.0 / kTwoPi);
    const __m128d turn = _mm_set1_pd(kTwoPi);
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d low = _mm_set1_pd(kWrapGuard);
    const __m128d high = _mm_set1_pd(1.0 - kWrapGuard);
    const __m128d turnHigh = _mm_set1_pd(kTwoPi - kWrapGuard);
    const __m128d largest = _mm_set1_pd(1e6);
    const __m128d limit = _mm_set1_pd(2e9);
    const __m128d sign = _mm_set1_pd(-0.0);
    // Truncation of values within +-2e9 (the others are refused by the tests below).
    const auto trunc = [&](__m128d v)
    {
        v = _mm_min_pd(v, limit);
        v = _mm_max_pd(v, _mm_sub_pd(_mm_setzero_pd(), limit));
        return _mm_cvtepi32_pd(_mm_cvttpd_epi32(v));
    };
    for (; k + 1 < end; k += 2)
    {
        const __m128d d = _mm_sub_pd(_mm_loadu_pd(phase + k), refs);
        const __m128d magnitude = _mm_andnot_pd(sign, d);
        const __m128d turns = _mm_add_pd(_mm_mul_pd(magnitude, inverse), one);
        const __m128d whole = trunc(turns);
        const __m128d a = _mm_add_pd(d, _mm_mul_pd(turn, whole));
        const __m128d r = _mm_sub_pd(a, _mm_mul_pd(trunc(_mm_mul_pd(a, inverse)), turn));
        const __m128d fraction = _mm_sub_pd(turns, whole);
        __m128d kept = _mm_cmplt_pd(magnitude, largest);
        kept = _mm_and_pd(kept, _mm_cmpge_pd(fraction, low));
        kept = _mm_and_pd(kept, _mm_cmple_pd(fraction, high));
        kept = _mm_and_pd(kept, _mm_cmpge_pd(r, low));
        kept = _mm_and_pd(kept, _mm_cmple_pd(r, turnHigh));
        _mm_storeu_pd(w + k, r);
        const int refused = _mm_movemask_pd(kept) ^ 3;
        if (refused & 1) w[k] = exact(k);
        if (refused & 2) w[k + 1] = exact(k + 1);
    }
#endif
    for (; k < end; ++k)
    {
        const double d = phase[k] - ref;
        const double turns = std::fabs(d) * (1.0 / kTwoPi) + 1.0;
        const double whole = truncBelow2e9(turns);
        const double a = d + kTwoPi * whole;
        const double r = a - truncBelow2e9(a * (1.0 / kTwoPi)) * kTwoPi;
        const bool kept = (std::fabs(d) < 1e6) & (turns - whole >= kWrapGuard) &
                          (turns - whole <= 1.0 - kWrapGuard) & (r >= kWrapGuard) &
                          (r <= kTwoPi - kWrapGuard);
        w[k] = kept ? r : exact(k);
    }
}
} // namespace

namespace
{
// The sample range [start, end) of a segment's marks. Consecutive segments' ranges never overlap.
void segmentSamples(const GrainSegment& seg, int B, int rate, double P, int64_t& start,
                    int64_t& end)
{
    start = std::clamp<int64_t>(
        floorIndex(std::trunc(seg.st * static_cast<double>(rate) * P * 0.001)), 0, B);
    end = std::min<int64_t>(
        B - 1, floorIndex((seg.ed + 1) * static_cast<double>(rate) * P * 0.001 + 0.5) - 1);
}

// The anchor-relative phase of every segment, reduced into [0, 2 pi), into w, for the samples in
// [from, to) only (the work can be done in pieces).
void wrapSegments(const double* phase, int B, int rate, double P, const GrainSegment* segments,
                  int segmentCount, double* w, int64_t from, int64_t to)
{
    for (int s = 0; s < segmentCount; ++s)
    {
        int64_t start, end;
        segmentSamples(segments[s], B, rate, P, start, end);
        start = std::max(start, from);
        end = std::min(end, to);
        if (start < end) wrappedPhases(phase, phase[segments[s].a0], start, end, w);
    }
}

// placePitchMarks with w already made by wrapSegments, raw as scratch of B values.
int marksOfSegments(const double* phase, int B, int rate, double P, const GrainSegment* segments,
                    int segmentCount, double* marks, const double* w, double* raw)
{
    int count = 0;
    for (int s = 0; s < segmentCount; ++s)
    {
        const GrainSegment& seg = segments[s];
        int64_t start, end;
        segmentSamples(seg, B, rate, P, start, end);

        // Marks where the wrapped phase falls back. Where two values lie within twice the guard
        // of each other their order is taken from fmod itself, so the marks are exactly those of
        // fmod.
        const double ref = phase[seg.a0];
        int rawCount = 0;
        const auto test = [&](int64_t k)
        {
            const bool wraps = std::fabs(w[k] - w[k + 1]) > 2.0 * kWrapGuard
                                   ? w[k] > w[k + 1]
                                   : std::fmod(shiftedPhase(phase[k] - ref), kTwoPi) >
                                         std::fmod(shiftedPhase(phase[k + 1] - ref), kTwoPi);
            if (wraps) raw[rawCount++] = static_cast<double>(k) / rate;
        };
        int64_t k = start;
#if defined(__SSE2__)
        // Where the phase clearly rises from k to k + 1 nothing wraps; only the other pairs are
        // tested, two pairs at a time.
        const __m128d rise = _mm_set1_pd(2.0 * kWrapGuard);
        for (; k + 2 < end; k += 2)
        {
            const __m128d step = _mm_sub_pd(_mm_loadu_pd(w + k + 1), _mm_loadu_pd(w + k));
            const int doubtful = _mm_movemask_pd(_mm_cmpngt_pd(step, rise));
            if (doubtful & 1) test(k);
            if (doubtful & 2) test(k + 1);
        }
#endif
        for (; k + 1 < end; ++k)
            test(k);

        if (seg.a1 != -1 && rawCount > 0)
        {
            const double A0 = static_cast<double>(seg.a0) / rate;
            const double A1 = static_cast<double>(seg.a1) / rate;
            double M = raw[0];
            for (int i = 1; i < rawCount; ++i)
                if (std::fabs(raw[i] - A1) < std::fabs(M - A1)) M = raw[i];
            // Stretch only between anchors at least a period apart and by a plausible amount:
            // coinciding anchors would fold every mark of the stretch onto the first one.
            if (seg.a1 - seg.a0 >= seg.period1 && M > A0)
            {
                const double g = (A1 - A0) / (M - A0);
                if (g >= 0.5 && g <= 2.0)
                    for (int i = 0; i < rawCount; ++i)
                        raw[i] = (raw[i] - A0) * g + A0;
            }
        }

        for (int i = 0; i < rawCount && count < B; ++i)
            if (std::trunc(raw[i] * rate) < B) marks[count++] = raw[i];
    }
    return count;
}
} // namespace

// Audio thread: allocates its wrapped-phase and raw-mark scratch per call; no lock, no I/O.
int placePitchMarks(const double* phase, int B, int rate, double P, const GrainSegment* segments,
                    int segmentCount, double* marks)
{
    std::vector<double> w(B);
    std::vector<double> raw(B);
    wrapSegments(phase, B, rate, P, segments, segmentCount, w.data(), 0, B);
    return marksOfSegments(phase, B, rate, P, segments, segmentCount, marks, w.data(), raw.data());
}

namespace
{
// cutGrain with the window of a grain length t (its first stored values) from windowOf(t, stored).
// With wholeTail false only the entries overlap-add can read are written: the samples, the one
// zero after them and the half length (it reads no further than index t; see resynthesis.cpp).
template <class WindowOf>
void cutGrainWith(const double* x, int B, int rate, const double* marks, int markCount, double tau,
                  double f, double* grain, int N, bool wholeTail, WindowOf&& windowOf)
{
    int64_t o = 0;
    if (markCount > 0)
    {
        double nearest = marks[0];
        double distance = std::fabs(nearest - tau);
        for (int i = 1; i < markCount; ++i)
            if (std::fabs(marks[i] - tau) < distance)
            {
                nearest = marks[i];
                distance = std::fabs(nearest - tau);
            }
        o = floorIndex(nearest * rate + 0.5) + 1;
    }
    f = usableF0(f);
    const int64_t u = floorIndex(rate / f + 0.5);
    const int64_t t = floorIndex(2.0 * rate / f + 0.5);
    const int half = N / 2;

    // A grain reaching the block's last sample would be cut short: leave it empty instead.
    if (o - u + t >= B)
    {
        if (wholeTail)
            clearGrain(grain, N);
        else
            grain[half - 1] = 0.0;
        return;
    }
    // Only the first N/2 - 1 samples fit the buffer; the rest of a longer grain is dropped.
    const int64_t stored = std::min<int64_t>(t, half - 1);
    const double* window = windowOf(t, stored);
    const int64_t begin = o - u;
    if (begin >= 0 && begin + stored <= B)
    {
        const double* source = x + begin;
        for (int64_t i = 0; i < stored; ++i)
            grain[i] = window[i] * source[i];
    }
    else
        for (int64_t i = 0; i < stored; ++i)
            grain[i] = window[i] * x[clampIndex(begin + i, B)];
    if (wholeTail)
        std::fill(grain + stored, grain + half, 0.0);
    else if (stored < half - 1)
        grain[stored] = 0.0;
    grain[half - 1] = static_cast<double>(t / 2);
}

// The first stored values of the Hann window of t points without its zero end points.
void hannWindow(int64_t t, int64_t stored, double* values)
{
    for (int64_t i = 0; i < stored; ++i)
        values[i] =
            0.5 - 0.5 * std::cos(kTwoPi * static_cast<double>(i + 1) / static_cast<double>(t + 1));
}
} // namespace

// Audio thread: allocates only when no window cache is given; no lock, no I/O.
void cutGrain(const double* x, int B, int rate, const double* marks, int markCount, double tau,
              double f, double* grain, int N, GrainWindowCache* window)
{
    GrainWindowCache local;
    GrainWindowCache& cache = window ? *window : local;
    cutGrainWith(x, B, rate, marks, markCount, tau, f, grain, N, true,
                 [&](int64_t t, int64_t stored)
                 {
                     if (cache.length != t)
                     {
                         cache.values.resize(static_cast<size_t>(N / 2));
                         hannWindow(t, stored, cache.values.data());
                         cache.length = t;
                     }
                     return cache.values.data();
                 });
}

// Allocates its scratch per call and frees it before returning; no lock, no I/O.
void extractFrameGrains(const double* x, int B, int rate, const double* frameTimes,
                        const double* f0Track, double* const* frameGrains, int N)
{
    const int frameCount = 1 - static_cast<int>(B / static_cast<double>(rate) * -500.0);
    GrainWorkspace workspace(B, rate, N, frameCount, true);
    workspace.prepare(x, frameTimes, f0Track, frameGrains);
    workspace.accumulatePhase();
    workspace.wrapPhase(0, 1);
    workspace.marks();
    workspace.cut(x, f0Track, frameGrains, 1, workspace.frames());
}

// The Hann windows of every grain length a voice gives at one rate (f0 from 85 to 700 Hz), made
// once and shared by every workspace of that geometry in the process: cutting a grain then never
// computes a cosine on the audio thread. Rates whose table would be too large go without.
class HannTable
{
public:
    static std::shared_ptr<const HannTable> forGeometry(int rate, int N)
    {
        static std::mutex mutex;
        static std::map<std::pair<int, int>, std::weak_ptr<const HannTable>> tables;
        std::lock_guard<std::mutex> lock(mutex);
        auto& entry = tables[{rate, N}];
        auto table = entry.lock();
        if (!table)
        {
            auto made = std::make_shared<HannTable>(rate, N);
            if (made->values.empty()) return nullptr;
            table = made;
            entry = table;
        }
        return table;
    }

    HannTable(int rate, int N)
    {
        const int64_t capacity = N / 2 - 1;
        shortest = floorIndex(2.0 * rate / 700.0 + 0.5);
        longest = floorIndex(2.0 * rate / 85.0 + 0.5);
        size_t total = 0;
        for (int64_t t = shortest; t <= longest; ++t)
            total += static_cast<size_t>(std::min(t, capacity));
        if (shortest < 1 || total > kMaxValues) return;
        values.resize(total);
        offsets.resize(static_cast<size_t>(longest - shortest + 1));
        size_t at = 0;
        for (int64_t t = shortest; t <= longest; ++t)
        {
            offsets[static_cast<size_t>(t - shortest)] = at;
            const int64_t stored = std::min(t, capacity);
            hannWindow(t, stored, values.data() + at);
            at += static_cast<size_t>(stored);
        }
    }

    // The window of length t, or null when t is outside the table.
    const double* row(int64_t t) const
    {
        if (t < shortest || t > longest) return nullptr;
        return values.data() + offsets[static_cast<size_t>(t - shortest)];
    }

private:
    static constexpr size_t kMaxValues = 4u << 20; // 32 MiB
    int64_t shortest = 0, longest = -1;
    std::vector<double> values;
    std::vector<size_t> offsets;
};

namespace
{
// Bytes of window rows a workspace keeps; at 44.1 kHz that is 64 grain lengths.
constexpr size_t kWindowTableBytes = 512 * 1024;
} // namespace

GrainWorkspace::GrainWorkspace(int B_, int rate_, int N_, int frameCount_, bool wholeGrains_)
    : B(B_), rate(rate_), N(N_), frameCount(frameCount_), wholeGrains(wholeGrains_),
      segments(static_cast<size_t>(std::max(frameCount_, 1))),
      filled(static_cast<size_t>(std::max(frameCount_, 1))), sampleTimes(B_), perSampleF0(B_),
      phase(B_), wrapped(B_), rawMarks(B_), markTimes(B_),
      peakScratch(std::max(peakCapacity(rate_), 2))
{
    for (int k = 0; k < B; ++k)
        sampleTimes[k] = static_cast<double>(k) / rate;
    const size_t row = static_cast<size_t>(std::max(N / 2, 1));
    const size_t slots = std::max<size_t>(kWindowTableBytes / (row * sizeof(double)), 4);
    windows.assign(slots * row, 0.0);
    windowLengths.assign(slots & ~static_cast<size_t>(1), -1);
    windowOlder.assign(slots / 2, 0);
    // The one-call extractFrameGrains cuts a single block: the shared table would not pay.
    if (!wholeGrains) table = HannTable::forGeometry(rate, N);
}

const double* GrainWorkspace::windowFor(int64_t t, int64_t stored)
{
    if (table)
        if (const double* row = table->row(t)) return row;
    // Two-way sets of rows: a length shares its set with lengths a multiple of the set count away
    // (the unvoiced 176 and a voiced length, say), and the one used longer ago gives way.
    const size_t sets = windowLengths.size() / 2;
    const size_t set = static_cast<size_t>(t) % sets;
    size_t slot = 2 * set;
    if (windowLengths[slot] != t)
    {
        if (windowLengths[slot + 1] == t)
            ++slot;
        else
        {
            slot += windowOlder[set];
            hannWindow(t, stored, windows.data() + slot * static_cast<size_t>(N / 2));
            windowLengths[slot] = t;
        }
    }
    windowOlder[set] = static_cast<uint8_t>(1 - (slot - 2 * set));
    return windows.data() + slot * static_cast<size_t>(N / 2);
}

void GrainWorkspace::prepare(const double* x, const double* frameTimes, const double* f0Track,
                             double* const* frameGrains)
{
    T = 0;
    markCount = 0;
    segmentCount = 0;
    P = (frameTimes[1] - frameTimes[0]) * 1000.0;
    const double Ps = P * 0.001;
    const double Tfloat = B * (1.0 / rate) / Ps;
    if (!(Ps > 0.0) || !std::isfinite(Tfloat) || Tfloat < 1.0)
    {
        // No usable frame grid: nothing can be cut, so the block stays silent.
        for (int j = 0; j < frameCount; ++j)
            clearGrain(frameGrains[j], N);
        return;
    }
    T = static_cast<int>(std::min<double>(std::floor(Tfloat) + 1.0, frameCount));

    segmentCount = splitFrameSegments(f0Track, T, segments.data());
    anchorSegments(x, B, rate, P, f0Track, segments.data(), segmentCount, peakScratch.data());

    for (int j = 0; j < T; ++j)
        filled[j] = f0Track[j] == 0.0 ? kUnvoicedF0 : usableF0(f0Track[j]);
    interpolateLinear(frameTimes, filled.data(), T, sampleTimes.data(), B, perSampleF0.data());
    if (wholeGrains)
        clearGrain(frameGrains[0], N);
    else
        frameGrains[0][N / 2 - 1] = 0.0; // an empty grain: nothing of it is read
}

void GrainWorkspace::accumulatePhase()
{
    if (T == 0) return;
    // The increments first (independent, so the compiler vectorises them), then their sum.
    const double samplingRate = rate;
    int first = 0;
#if defined(HALVERN_AVX2_KERNELS)
    if (processorHasAvx2) first = incrementsAvx2(perSampleF0.data(), samplingRate, B, phase.data());
#endif
    for (int k = first; k < B; ++k)
        phase[k] = kTwoPi * perSampleF0[k] / samplingRate;
    double acc = 0.0;
    for (int k = 0; k < B; ++k)
    {
        acc += phase[k];
        phase[k] = acc;
    }
}

void GrainWorkspace::wrapPhase(int piece, int pieces)
{
    if (T == 0) return;
    wrapSegments(phase.data(), B, rate, P, segments.data(), segmentCount, wrapped.data(),
                 static_cast<int64_t>(B) * piece / pieces,
                 static_cast<int64_t>(B) * (piece + 1) / pieces);
}

void GrainWorkspace::marks()
{
    if (T == 0) return;
    markCount = marksOfSegments(phase.data(), B, rate, P, segments.data(), segmentCount,
                                markTimes.data(), wrapped.data(), rawMarks.data());
}

void GrainWorkspace::cut(const double* x, const double* f0Track, double* const* frameGrains,
                         int from, int to, const uint8_t* used)
{
    const double Ps = P * 0.001;
    for (int j = std::max(from, 1); j < std::min(to, T); ++j)
    {
        if (used && !used[j]) continue;
        const double f = f0Track[j] > 71.0 ? f0Track[j] : kUnvoicedF0;
        cutGrainWith(x, B, rate, markTimes.data(), markCount, j * Ps, f, frameGrains[j], N,
                     wholeGrains,
                     [this](int64_t t, int64_t stored) { return windowFor(t, stored); });
    }
}
