#include "resynthesis.h"

#include <algorithm>
#include <cmath>

#include "simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(HALVERN_AVX2_KERNELS)
#include <immintrin.h>
#endif

namespace
{
constexpr double kUnvoicedF0 = 500.0;

// Frame nearest time t >= t0 on the 2 ms grid (rounded half up, truncated toward zero). Values
// beyond any frame, and NaN, come back as limit so that the pulse walk stops.
int64_t frameIndex(double t, double t0, int limit)
{
    const double v = (t - t0) * 500.0 + 0.5;
    if (!(v < static_cast<double>(limit))) return limit;
    return static_cast<int64_t>(v);
}
#if defined(HALVERN_AVX2_KERNELS)
// The general case of addGrain four samples at a time, each lane with exactly its operations;
// returns the count done.
HALVERN_TARGET_AVX2 int64_t addGrainAvx2(const double* g, double last, double step, int64_t from,
                                         int64_t count, double* out)
{
    const __m256d steps = _mm256_set1_pd(step);
    const __m256d lasts = _mm256_set1_pd(last);
    const __m256d lanes = _mm256_set_pd(3.0, 2.0, 1.0, 0.0);
    int64_t j = 0;
    for (; j + 3 < count; j += 4)
    {
        const __m256d i = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(from + j)), lanes);
        const __m256d q = _mm256_min_pd(_mm256_mul_pd(i, steps), lasts);
        const __m128i k = _mm256_cvttpd_epi32(q);
        const __m256d weight = _mm256_sub_pd(q, _mm256_cvtepi32_pd(k));
        // Each lane's two neighbours are adjacent: four pair loads, interleaved into the values
        // at k and at k + 1.
        const __m128d p0 = _mm_loadu_pd(g + _mm_cvtsi128_si32(k));
        const __m128d p1 = _mm_loadu_pd(g + _mm_extract_epi32(k, 1));
        const __m128d p2 = _mm_loadu_pd(g + _mm_extract_epi32(k, 2));
        const __m128d p3 = _mm_loadu_pd(g + _mm_extract_epi32(k, 3));
        const __m256d even = _mm256_set_m128d(p2, p0);
        const __m256d odd = _mm256_set_m128d(p3, p1);
        const __m256d a = _mm256_unpacklo_pd(even, odd);
        const __m256d b = _mm256_unpackhi_pd(even, odd);
        const __m256d value = _mm256_add_pd(a, _mm256_mul_pd(_mm256_sub_pd(b, a), weight));
        _mm256_storeu_pd(out + j, _mm256_add_pd(_mm256_loadu_pd(out + j), value));
    }
    return j;
}
#endif

// Adds count samples of the grain read at step, from output sample from on, into out[0 ..).
// At step 1 the interpolation weight is always 0, and adding g[k] + 0 * (g[k+1] - g[k]) into a
// ring cell (never -0: cells start at +0 and only ever have values added) gives the same bits as
// adding g[k].
void addGrain(const double* g, int half, double step, int64_t from, int64_t count, double* out)
{
    const double last = static_cast<double>(half - 2);
    if (step == 1.0)
    {
        for (int64_t j = 0; j < count; ++j)
            out[j] += g[std::min<int64_t>(from + j, half - 2)];
        return;
    }
    int64_t j = 0;
#if defined(HALVERN_AVX2_KERNELS)
    if (processorHasAvx2) j = addGrainAvx2(g, last, step, from, count, out);
#endif
#if defined(__SSE2__)
    // Two samples at a time, each lane with exactly the scalar operations below.
    const __m128d steps = _mm_set1_pd(step);
    const __m128d lasts = _mm_set1_pd(last);
    const __m128d pair = _mm_set_pd(1.0, 0.0);
    for (; j + 1 < count; j += 2)
    {
        const __m128d i = _mm_add_pd(_mm_set1_pd(static_cast<double>(from + j)), pair);
        const __m128d q = _mm_min_pd(_mm_mul_pd(i, steps), lasts);
        const __m128i k = _mm_cvttpd_epi32(q);
        const __m128d weight = _mm_sub_pd(q, _mm_cvtepi32_pd(k));
        const __m128d at0 = _mm_loadu_pd(g + _mm_cvtsi128_si32(k));
        const __m128d at1 = _mm_loadu_pd(g + _mm_cvtsi128_si32(_mm_shuffle_epi32(k, 1)));
        const __m128d a = _mm_unpacklo_pd(at0, at1);
        const __m128d b = _mm_unpackhi_pd(at0, at1);
        const __m128d value = _mm_add_pd(a, _mm_mul_pd(_mm_sub_pd(b, a), weight));
        _mm_storeu_pd(out + j, _mm_add_pd(_mm_loadu_pd(out + j), value));
    }
#endif
    for (; j < count; ++j)
    {
        const double q = std::min(static_cast<double>(from + j) * step, last);
        const int k = static_cast<int>(q);
        out[j] += g[k] + (g[k + 1] - g[k]) * (q - k);
    }
}
} // namespace

// Audio thread: no allocation, no lock, no I/O.
namespace
{
// Walks the pulse chain from nextPulseTime while the pulse's frame is below frameLimit, calling
// pulse(frame, t) for each pulse; returns the time of the first pulse not walked.
template <class Pulse>
double walkPulses(double nextPulseTime, int frameLimit, const double* f0Track, int rate, double t0,
                  Pulse&& pulse)
{
    // One pulse per two samples at most, so a huge target f0 still moves the chain on.
    const double maxF0 = 0.5 * rate;
    double t = nextPulseTime;
    // The chain never lies before the block in the normal block sequence; a pulse time that does
    // (or is not a number) restarts at the block's first sample instead of reading frame -1.
    if (!(t >= t0)) t = t0;
    int64_t j = frameIndex(t, t0, frameLimit);
    while (j < frameLimit)
    {
        const int frame = static_cast<int>(j);
        pulse(frame, t);
        double f = f0Track[frame];
        if (f == 0.0 || !(f > 0.0) || !std::isfinite(f))
            f = kUnvoicedF0; // unvoiced, or a target that cannot be a pitch
        f = std::min(f, maxF0);
        t = t + 1.0 / f;
        j = frameIndex(t, t0, frameLimit);
    }
    return t;
}
} // namespace

void overlapAddGrains(double& nextPulseTime, int frameLimit, const ControlState* frameControls,
                      const double* f0Track, const double* const* frameGrains, int N, int rate,
                      double* outputRing, int ringSize, double t0, int64_t originSample,
                      int64_t firstSample)
{
    const int half = N / 2;
    // Grains span at most 4h < 2N samples over the knob's formant range; a longer stretch
    // (formant far below -1200 cents) is cut there rather than wrapping over the ring.
    const double maxLength = std::min(2 * N, ringSize);
    if (!std::isfinite(t0)) return;
    int ratioFrame = -1;
    double r = 1.0;
    nextPulseTime = walkPulses(
        nextPulseTime, frameLimit, f0Track, rate, t0,
        [&](int frame, double t)
        {
            const int64_t p = static_cast<int64_t>(std::floor(t * rate));
            if (originSample + p < firstSample) return;
            // Consecutive pulses mostly fall in the same frame: its ratio is computed once.
            if (frame != ratioFrame)
            {
                r = static_cast<double>(
                    std::pow(2.0f, frameControls[frame].formantCents * (1.0f / 1200.0f)));
                ratioFrame = frame;
            }
            const double* g = frameGrains[frame];
            const double h = g[half - 1];
            const double inverse = 1.0 / r;
            double halfLength = h * inverse;
            if (!(halfLength >= 1.0))
                halfLength = 0.0; // empty grain, or a ratio that leaves nothing to write
            const int64_t n = 2 * static_cast<int64_t>(std::min(halfLength, 0.5 * maxLength));
            const double step = 1.0 / inverse;

            // The grain's cells as at most two contiguous stretches of the ring.
            const int64_t cell = ((originSample + p) % ringSize + ringSize) % ringSize;
            const int64_t first = std::min<int64_t>(n, ringSize - cell);
            addGrain(g, half, step, 0, first, outputRing + cell);
            addGrain(g, half, step, first, n - first, outputRing);
        });
}

void markPulseFrames(double nextPulseTime, int frameLimit, const double* f0Track, int rate,
                     double t0, uint8_t* used)
{
    std::fill(used, used + std::max(frameLimit, 0), 0);
    if (!std::isfinite(t0)) return;
    walkPulses(nextPulseTime, frameLimit, f0Track, rate, t0,
               [&](int frame, double) { used[frame] = 1; });
}
