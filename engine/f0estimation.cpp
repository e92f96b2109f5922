#include "f0estimation.h"

#include "decimationdesign.h"
#include "f0contour.h"
#include "f0map.h"
#include "interpolate.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr double kNoDeviation = 100000.0; // deviation of a frame without a candidate

struct LowPassRow
{
    int factor;
    DecimationCoefficients c;
};

// Third-order low-passes, one per decimation factor, each with its cutoff below the new Nyquist.
constexpr LowPassRow kLowPasses[] = {
    {2,
     {0.04115673456775719, -0.42599112459189636, 0.041037215479961225, 0.16797464681802227,
      0.5039239404540667}},
    {4,
     {1.4499664446880227, -0.9894349708095058, 0.24578252340690215, 0.03671075033932261,
      0.11013225101796784}},
    {6,
     {1.971535274951214, -1.4686795689225347, 0.3893908434965701, 0.013469181309343825,
      0.040407543928031475}},
    {8,
     {2.2357462340187593, -1.7780899984041358, 0.4915255536596869, 0.006352276340711199,
      0.019056829022133598}},
    {11,
     {2.450743295230728, -2.06794904601978, 0.595747744383321, 0.0026822508007163792,
      0.008046752402149138}},
    {12,
     {2.4981398605924205, -2.1368928194784025, 0.6218751381622148, 0.0021097275904709,
      0.0063291827714127}},
};

// The other factors use the same design, computed once when the library is loaded so the audio
// thread never designs a filter. 96 covers rates up to 384 kHz.
constexpr int kMaxDecimationFactor = 96;
const std::array<DecimationCoefficients, kMaxDecimationFactor + 1> kDesignedLowPasses = []
{
    std::array<DecimationCoefficients, kMaxDecimationFactor + 1> table{};
    for (int D = 2; D <= kMaxDecimationFactor; ++D)
        table[D] = designDecimationLowPass(D);
    return table;
}();

const DecimationCoefficients* lowPassFor(int D)
{
    for (const auto& row : kLowPasses)
        if (row.factor == D) return &row.c;
    if (D >= 2 && D <= kMaxDecimationFactor) return &kDesignedLowPasses[D];
    return nullptr;
}

// The block with point reflections of its first and last ten samples on either side (n + 18
// values), which keep the filter from ringing at the block's edges.
void extendBlock(const double* x, int n, double* t)
{
    for (int k = 0; k <= 8; ++k)
        t[k] = 2.0 * x[0] - x[9 - k];
    std::copy(x, x + n, t + 9);
    for (int j = 0; j <= 8; ++j)
        t[static_cast<size_t>(n) + 9 + j] = 2.0 * x[n - 1] - x[n - 2 - j];
}

// The recursive low-pass over in[k - offset] for k in [from, to) into out[k], continuing from
// state (w[k-1], w[k-2], w[k-3]); in and out may be the same array with offset 0.
void lowPassForward(const DecimationCoefficients& c, const double* in, int offset, double* out,
                    int from, int to, double* state)
{
    double w1 = state[0], w2 = state[1], w3 = state[2];
    for (int k = from; k < to; ++k)
    {
        const double w0 = in[k - offset] + c.a1 * w1 + c.a2 * w2 + c.a3 * w3;
        out[k] = c.b0 * w0 + c.b1 * w1 + c.b1 * w2 + c.b0 * w3;
        w3 = w2;
        w2 = w1;
        w1 = w0;
    }
    state[0] = w1;
    state[1] = w2;
    state[2] = w3;
}

// The same filter run backwards over t[from, to), from index to - 1 down to from: the second,
// phase-cancelling pass. Only every D-th output below last is kept (those at first + k D, into
// y[k]); the recursion itself runs over every sample. With Beside, lowPassForward runs step for
// step beside it over as many samples of another block (in[f - offset] into out[f] for f from
// start on, state in otherState): two independent recursions in one loop, each rounding exactly
// as on its own.
template <bool Beside>
void lowPassBackwardWith(const DecimationCoefficients& c, const double* t, int from, int to,
                         double* state, int first, int last, int D, double* y, const double* in,
                         int offset, double* out, int start, double* otherState)
{
    double w1 = state[0], w2 = state[1], w3 = state[2];
    double v1 = 0.0, v2 = 0.0, v3 = 0.0;
    if constexpr (Beside)
    {
        v1 = otherState[0];
        v2 = otherState[1];
        v3 = otherState[2];
    }
    // Samples until the next kept one, counted down instead of a remainder per sample.
    int k = to - 1;
    int untilKept = k >= first ? (k - first) % D : -1;
    for (int f = start; k >= from; --k, ++f)
    {
        const double w0 = t[k] + c.a1 * w1 + c.a2 * w2 + c.a3 * w3;
        if constexpr (Beside)
        {
            const double v0 = in[f - offset] + c.a1 * v1 + c.a2 * v2 + c.a3 * v3;
            out[f] = c.b0 * v0 + c.b1 * v1 + c.b1 * v2 + c.b0 * v3;
            v3 = v2;
            v2 = v1;
            v1 = v0;
        }
        if (untilKept == 0)
        {
            if (k < last) y[(k - first) / D] = c.b0 * w0 + c.b1 * w1 + c.b1 * w2 + c.b0 * w3;
            untilKept = k > first ? D : -1;
        }
        --untilKept;
        w3 = w2;
        w2 = w1;
        w1 = w0;
    }
    state[0] = w1;
    state[1] = w2;
    state[2] = w3;
    if constexpr (Beside)
    {
        otherState[0] = v1;
        otherState[1] = v2;
        otherState[2] = v3;
    }
}

void lowPassBackward(const DecimationCoefficients& c, const double* t, int from, int to,
                     double* state, int first, int last, int D, double* y)
{
    lowPassBackwardWith<false>(c, t, from, to, state, first, last, D, y, nullptr, 0, nullptr, 0,
                               nullptr);
}

// Index of the extended block that decimated sample 0 comes from; the last one kept lies before
// index n + 17.
int firstKept(int n, int D)
{
    return 8 + n % D;
}

// The intervals between crossings as zeroCrossingIntervals writes them.
struct Crossings
{
    double* centres;
    double* frequencies;
    int count = 0; // crossings so far
    double previous = 0.0;

    void add(double p, double rate)
    {
        if (count > 0)
        {
            frequencies[count - 1] = rate / (p - previous);
            centres[count - 1] = (previous + p) * 0.5 * (1.0 / rate);
        }
        previous = p;
        ++count;
    }
};

// The falling crossing between samples a and b, if there is one, at its position from k.
void testFalling(double a, double b, int k, double rate, Crossings& into)
{
    if (a * b < 0.0 && a > b && std::isfinite(a) && std::isfinite(b))
        // Positions count from 1; the offset is the same for every kind of event.
        into.add((k + 1) + a / (a - b), rate);
}

// Falling crossings of s (into falling) and of -s (into rising) in one pass. Negation is exact and
// rounding symmetric, so the crossings of -s come out bit for bit as from a negated copy.
void crossingsBothWays(const double* s, int length, double rate, Crossings& falling,
                       Crossings& rising)
{
    int k = 0;
#if defined(__SSE2__)
    // A crossing either way needs samples of opposite signs; other pairs are passed over two at
    // a time.
    const __m128d zero = _mm_setzero_pd();
    for (; k + 2 < length; k += 2)
    {
        const __m128d a = _mm_loadu_pd(s + k);
        const __m128d b = _mm_loadu_pd(s + k + 1);
        const __m128d down = _mm_and_pd(_mm_cmpgt_pd(a, zero), _mm_cmplt_pd(b, zero));
        const __m128d up = _mm_and_pd(_mm_cmplt_pd(a, zero), _mm_cmpgt_pd(b, zero));
        const int candidates = _mm_movemask_pd(_mm_or_pd(down, up));
        for (int lane = 0; lane < 2; ++lane)
            if (candidates & (1 << lane))
            {
                testFalling(s[k + lane], s[k + lane + 1], k + lane, rate, falling);
                testFalling(-s[k + lane], -s[k + lane + 1], k + lane, rate, rising);
            }
    }
#endif
    for (; k + 1 < length; ++k)
    {
        testFalling(s[k], s[k + 1], k, rate, falling);
        testFalling(-s[k], -s[k + 1], k, rate, rising);
    }
}

// Candidates and deviations of one band from its filtered signal (the decimated signal convolved
// with the band's window, N values). s is scratch of yLen values, centres and frequencies of
// 2 (yLen / 2 + 1) each, kinds of 4 m.
void bandFromFiltered(const double* filtered, int h, double bandEdge, double decimatedRate,
                      int yLen, const double* times, int m, double* s, double* centres,
                      double* frequencies, double* kinds, double* candidates, double* deviations)
{
    double* const T[4] = {kinds, kinds + m, kinds + 2 * m, kinds + 3 * m};
    const int half = yLen / 2 + 1;
    const auto measure = [&](const double* signal, int length, double* falling, double* rising)
    {
        Crossings down{centres, frequencies};
        Crossings up{centres + half, frequencies + half};
        crossingsBothWays(signal, length, decimatedRate, down, up);
        if (down.count - 1 < 3 || up.count - 1 < 3) return false;
        interpolateLinear(down.centres, down.frequencies, down.count - 1, times, m, falling);
        interpolateLinear(up.centres, up.frequencies, up.count - 1, times, m, rising);
        return true;
    };

    // Falling and rising crossings of the band signal (which starts 2h in: the window's delay),
    // then peaks and dips as crossings of its difference. The difference is the one of the negated
    // signal, -b[i] - -b[i+1], which rounds exactly as b[i+1] - b[i].
    const double* band = filtered + 2 * h;
    bool usable = measure(band, yLen, T[0], T[1]);
    if (usable)
    {
        for (int i = 0; i + 1 < yLen; ++i)
            s[i] = band[i + 1] - band[i];
        usable = measure(s, yLen - 1, T[2], T[3]);
    }
    if (!usable)
    {
        for (int i = 0; i < m; ++i)
        {
            candidates[i] = 0.0;
            deviations[i] = kNoDeviation;
        }
        return;
    }

    for (int i = 0; i < m; ++i)
    {
        const double cand = (T[0][i] + T[1][i] + T[2][i] + T[3][i]) * 0.25;
        double spread = 0.0;
        for (const double* t : T)
            spread += (t[i] - cand) * (t[i] - cand);
        // Written as the accepted range so that a value that is not a number is refused too.
        if (cand <= bandEdge && cand >= bandEdge * 0.5 && cand <= 800.0 && cand >= 90.0)
        {
            candidates[i] = cand;
            deviations[i] = std::sqrt(spread * (1.0 / 3.0));
        }
        else
        {
            candidates[i] = 0.0;
            deviations[i] = kNoDeviation;
        }
    }
}

double bandEdgeOf(int b)
{
    return std::pow(2.0, b * 0.5) * 80.0;
}

int bandHalfWidth(double decimatedRate, double bandEdge)
{
    return static_cast<int>((decimatedRate / bandEdge + 1.0) * 0.5);
}

// The band signal must lie inside the transform for the band to be measured at all.
bool bandFits(int h, int N, int yLen)
{
    return h >= 1 && 4 * h <= N && yLen >= 2 && yLen + 2 * h <= N;
}

} // namespace

int decimationFactor(int fs)
{
    return static_cast<int>(fs * 0.00025);
}

bool hasDecimationFilter(int D)
{
    return lowPassFor(D) != nullptr;
}

int decimatedCount(int n, int D)
{
    if (n < 10 || !hasDecimationFilter(D)) return 0;
    const int64_t extended = static_cast<int64_t>(n) + 9 - n % D;
    return static_cast<int>((extended + D - 1) / D);
}

int f0TransformLength(int n, int fs)
{
    const int D = decimationFactor(fs);
    if (n < 0 || D <= 0) return 0;
    const int yLen = n / D + 1;
    const double span = yLen + 4.0 * std::trunc(fs / 80.0 * 0.5 + 1.0);
    const double exponent = 1.0 + std::trunc(std::log(span) * (1.0 / std::log(2.0)));
    return exponent <= 30.0 ? 1 << static_cast<int>(exponent) : 0;
}

bool buildF0Map(const double* x, int n, int fs, const double* times, int m, double* f0Cells,
                double* stabilityCells)
{
    for (size_t k = 0; k < static_cast<size_t>(kF0BandCount) * m; ++k)
    {
        f0Cells[k] = 0.0;
        stabilityCells[k] = kNoDeviation / 1e-8;
    }
    if (m <= 0) return false;
    F0Workspace workspace(n, fs, m);
    if (!workspace.analysable()) return false;
    workspace.loadBlock(x);
    for (int c = 0; c < 2 * F0Workspace::kLowPassChunks; ++c)
        workspace.lowPassChunk(c);
    workspace.transformBlock();
    for (int b = 0; b < kF0BandCount; ++b)
    {
        workspace.band(b, times);
        std::copy(workspace.f0Map()[b], workspace.f0Map()[b] + m,
                  f0Cells + static_cast<size_t>(b) * m);
        std::copy(workspace.stabilityMap()[b], workspace.stabilityMap()[b] + m,
                  stabilityCells + static_cast<size_t>(b) * m);
    }
    return true;
}

void estimateF0(const double* x, int n, int fs, double* times, double* f0)
{
    const int m = f0FrameCount(n, fs);
    for (int i = 0; i < m; ++i)
    {
        times[i] = (i * 2.0) * 0.001;
        f0[i] = 0.0;
    }
    if (m == 0) return;
    try
    {
        F0Workspace workspace(n, fs);
        // A block that cannot be analysed keeps an empty map and so comes out unvoiced.
        workspace.loadBlock(x);
        for (int c = 0; c < 2 * F0Workspace::kLowPassChunks; ++c)
            workspace.lowPassChunk(c);
        workspace.transformBlock();
        for (int b = 0; b < kF0BandCount; ++b)
            workspace.band(b, times);
        workspace.select(f0);
        dumpF0Map(kF0BandCount, m, workspace.f0Map(), workspace.stabilityMap(), workspace.trace());
    }
    catch (const std::bad_alloc&)
    {
        // Out of memory: this block stays unvoiced.
        for (int i = 0; i < m; ++i)
            f0[i] = 0.0;
    }
}

int decimate(const double* x, int n, int D, double* y)
{
    if (n < 10 || !hasDecimationFilter(D)) return 0;
    const DecimationCoefficients& c = *lowPassFor(D);
    std::vector<double> t(static_cast<size_t>(n) + 18);
    extendBlock(x, n, t.data());
    const int length = static_cast<int>(t.size());
    double state[3] = {};
    lowPassForward(c, t.data(), 0, t.data(), 0, length, state);
    state[0] = state[1] = state[2] = 0.0;
    lowPassBackward(c, t.data(), 0, length, state, firstKept(n, D), n + 17, D, y);
    return decimatedCount(n, D);
}

void decimationLowPass(const double* in, int length, int D, double* out)
{
    const DecimationCoefficients* c = lowPassFor(D);
    if (!c)
    {
        if (out != in) std::copy(in, in + length, out);
        return;
    }
    double w1 = 0.0, w2 = 0.0, w3 = 0.0;
    for (int k = 0; k < length; ++k)
    {
        const double w0 = in[k] + c->a1 * w1 + c->a2 * w2 + c->a3 * w3;
        out[k] = c->b0 * w0 + c->b1 * w1 + c->b1 * w2 + c->b0 * w3;
        w3 = w2;
        w2 = w1;
        w1 = w0;
    }
}

void nuttallWindow(int L, double* w)
{
    for (int i = 0; i < L; ++i)
    {
        const double u = ((i + 1) - (L + 1) * 0.5) * (1.0 / (L + 1));
        w[i] = 0.355768 + 0.487396 * std::cos(2.0 * kPi * u) + 0.144232 * std::cos(4.0 * kPi * u) +
               0.012604 * std::cos(6.0 * kPi * u);
    }
}

void bandCandidates(double bandEdge, double decimatedRate, int N, int yLen,
                    const FftComplex* spectrum, double* filterBuffer, FftComplex* filterSpectrum,
                    const FftPlan& forwardPlan, const FftPlan& inversePlan, const double* times,
                    int m, double* candidates, double* deviations)
{
    const int h = bandHalfWidth(decimatedRate, bandEdge);
    if (!bandFits(h, N, yLen))
    {
        for (int i = 0; i < m; ++i)
        {
            candidates[i] = 0.0;
            deviations[i] = kNoDeviation;
        }
        return;
    }

    // Filtering by spectrum product; N leaves room for the window, so nothing wraps around.
    const int L = 4 * h;
    nuttallWindow(L, filterBuffer);
    std::fill(filterBuffer + L, filterBuffer + N, 0.0);
    executeFft(forwardPlan);
    for (int k = 0; k <= N / 2; ++k)
    {
        const FftComplex p = filterSpectrum[k];
        const FftComplex u = spectrum[k];
        filterSpectrum[k] = {p.re * u.re - p.im * u.im, p.re * u.im + p.im * u.re};
    }
    executeFft(inversePlan);

    std::vector<double> s(yLen);
    std::vector<double> centres(2 * (yLen / 2 + 1));
    std::vector<double> frequencies(2 * (yLen / 2 + 1));
    std::vector<double> kinds(static_cast<size_t>(4) * m);
    bandFromFiltered(filterBuffer, h, bandEdge, decimatedRate, yLen, times, m, s.data(),
                     centres.data(), frequencies.data(), kinds.data(), candidates, deviations);
}

void zeroCrossingIntervals(const double* s, int length, double rate, double* centres,
                           double* frequencies, int& count)
{
    Crossings falling{centres, frequencies};
    int k = 0;
#if defined(__SSE2__)
    // A falling crossing needs a > 0 > b; pairs without that are passed over two at a time.
    const __m128d zero = _mm_setzero_pd();
    for (; k + 2 < length; k += 2)
    {
        const __m128d a = _mm_loadu_pd(s + k);
        const __m128d b = _mm_loadu_pd(s + k + 1);
        const int candidates =
            _mm_movemask_pd(_mm_and_pd(_mm_cmpgt_pd(a, zero), _mm_cmplt_pd(b, zero)));
        if (candidates & 1) testFalling(s[k], s[k + 1], k, rate, falling);
        if (candidates & 2) testFalling(s[k + 1], s[k + 2], k + 1, rate, falling);
    }
#endif
    for (; k + 1 < length; ++k)
        testFalling(s[k], s[k + 1], k, rate, falling);
    count = falling.count - 1;
}

F0Workspace::F0Workspace(int n_, int fs_, int frames) : n(n_), fs(fs_)
{
    m = frames < 0 ? f0FrameCount(n, fs) : frames;
    D = decimationFactor(fs);
    N = f0TransformLength(n, fs);
    lowPass = D > 0 ? lowPassFor(D) : nullptr;
    analysable_ = m > 0 && n >= 10 && lowPass && N > 0;
    // Candidates absent everywhere until a block is analysed.
    cells.assign(static_cast<size_t>(2 * kF0BandCount + 6) * std::max(m, 0), 0.0);
    for (int b = 0; b < kF0BandCount; ++b)
    {
        f0Rows[b] = cells.data() + static_cast<size_t>(b) * m;
        double* stability = cells.data() + static_cast<size_t>(kF0BandCount + b) * m;
        std::fill(stability, stability + m, kNoDeviation / 1e-8);
        stabilityRows[b] = stability;
    }
    double* contours = cells.data() + static_cast<size_t>(2 * kF0BandCount) * m;
    trace_ = {contours,         contours + m,     contours + 2 * m,
              contours + 3 * m, contours + 4 * m, contours + 5 * m};
    if (!analysable_) return;

    rate = static_cast<double>(fs) / D;
    yLen = n / D + 1;
    bins = N / 2 + 1;
    extended.assign(static_cast<size_t>(n) + 18, 0.0);
    ahead.extended.assign(static_cast<size_t>(n) + 18, 0.0);
    decimated.assign(std::max(N, decimatedCount(n, D)), 0.0);
    spectrum.assign(bins, FftComplex{});
    filterBuffer.assign(N, 0.0);
    filterSpectrum.assign(bins, FftComplex{});
    windowSpectra.assign(static_cast<size_t>(kF0BandCount) * bins, FftComplex{});
    bandSignal.assign(yLen, 0.0);
    centres.assign(2 * (yLen / 2 + 1), 0.0);
    frequencies.assign(2 * (yLen / 2 + 1), 0.0);
    kinds.assign(static_cast<size_t>(4) * m, 0.0);
    deviations.assign(m, 0.0);

    try
    {
        forward = planForwardReal(N, decimated.data(), spectrum.data());
        ++plansMade;
        filterForward = planForwardReal(N, filterBuffer.data(), filterSpectrum.data());
        ++plansMade;
        filterInverse = planInverseReal(N, filterSpectrum.data(), filterBuffer.data());
        ++plansMade;
    }
    catch (...)
    {
        releasePlans(); // the destructor does not run for a constructor that throws
        throw;
    }

    // The band windows depend on the geometry only: transform each once.
    for (int b = 0; b < kF0BandCount; ++b)
    {
        const int h = bandHalfWidth(rate, bandEdgeOf(b));
        if (!bandFits(h, N, yLen)) continue;
        nuttallWindow(4 * h, filterBuffer.data());
        std::fill(filterBuffer.begin() + 4 * h, filterBuffer.end(), 0.0);
        executeFft(filterForward);
        std::copy(filterSpectrum.begin(), filterSpectrum.end(),
                  windowSpectra.begin() + static_cast<size_t>(b) * bins);
    }
}

F0Workspace::~F0Workspace()
{
    releasePlans();
}

void F0Workspace::releasePlans()
{
    if (plansMade > 2) destroyFftPlan(filterInverse);
    if (plansMade > 1) destroyFftPlan(filterForward);
    if (plansMade > 0) destroyFftPlan(forward);
    plansMade = 0;
}

void F0Workspace::loadBlock(const double* x, const double* next, int nextAvailable)
{
    if (!analysable_) return;
    // The block itself is filtered where it lies; only its reflected ends are made here.
    source = x;
    for (int k = 0; k <= 8; ++k)
    {
        head[k] = 2.0 * x[0] - x[9 - k];
        tail[k] = 2.0 * x[n - 1] - x[n - 2 - k];
    }
    filterState[0] = filterState[1] = filterState[2] = 0.0;
    forwardStart = 0;
    if (ahead.source == x && ahead.done > 0)
    {
        // The forward pass already ran over this block's start while the previous block's
        // backward pass ran: it goes on from there.
        extended.swap(ahead.extended);
        forwardStart = ahead.done;
        std::copy(ahead.state, ahead.state + 3, filterState);
    }
    ahead.source = nextAvailable >= 10 ? next : nullptr;
    ahead.done = 0;
    ahead.limit = ahead.source ? std::min(nextAvailable + 9, n + 18) : 0;
    std::fill(ahead.state, ahead.state + 3, 0.0);
}

void F0Workspace::lowPassChunk(int chunk)
{
    if (!analysable_) return;
    const int length = n + 18;
    if (chunk < kLowPassChunks)
    {
        const int span = length - forwardStart;
        const int from = forwardStart + span / kLowPassChunks * chunk;
        const int to = chunk + 1 == kLowPassChunks
                           ? length
                           : forwardStart + span / kLowPassChunks * (chunk + 1);
        // The extended block in three parts: the reflected head, the block, the reflected tail.
        const auto part = [&](const double* in, int start, int end)
        {
            const int a = std::max(from, start), b = std::min(to, end);
            if (a < b) lowPassForward(*lowPass, in, start, extended.data(), a, b, filterState);
        };
        part(head, 0, 9);
        part(source, 9, n + 9);
        part(tail, n + 9, length);
        if (chunk + 1 == kLowPassChunks) filterState[0] = filterState[1] = filterState[2] = 0.0;
        return;
    }
    // The backward pass walks its chunks from the block's end. Its recursion waits on itself at
    // every sample; the next block's forward pass over the samples already there is another such
    // chain, so the two are run side by side and each fills the other's waits.
    const int back = 2 * kLowPassChunks - 1 - chunk;
    const int from = length / kLowPassChunks * back;
    const int to = back + 1 == kLowPassChunks ? length : length / kLowPassChunks * (back + 1);
    if (ahead.source && ahead.done == 0)
    {
        double nextHead[9];
        for (int k = 0; k <= 8; ++k)
            nextHead[k] = 2.0 * ahead.source[0] - ahead.source[9 - k];
        lowPassForward(*lowPass, nextHead, 0, ahead.extended.data(), 0, 9, ahead.state);
        ahead.done = 9;
    }
    const int together = ahead.source ? std::min(to - from, ahead.limit - ahead.done) : 0;
    lowPassBackwardWith<true>(*lowPass, extended.data(), to - together, to, filterState,
                              firstKept(n, D), n + 17, D, decimated.data(), ahead.source, 9,
                              ahead.extended.data(), ahead.done, ahead.state);
    ahead.done += together;
    lowPassBackward(*lowPass, extended.data(), from, to - together, filterState, firstKept(n, D),
                    n + 17, D, decimated.data());
}

void F0Workspace::transformBlock()
{
    if (!analysable_) return;
    double mean = 0.0;
    for (int i = 0; i < yLen; ++i)
        mean += decimated[i];
    mean /= yLen;
    for (int i = 0; i < yLen; ++i)
        decimated[i] -= mean;
    std::fill(decimated.begin() + yLen, decimated.end(), 0.0);
    executeFft(forward);
}

void F0Workspace::band(int b, const double* times)
{
    if (!analysable_) return;
    double* candidates = cells.data() + static_cast<size_t>(b) * m;
    double* stability = cells.data() + static_cast<size_t>(kF0BandCount + b) * m;
    const double bandEdge = bandEdgeOf(b);
    const int h = bandHalfWidth(rate, bandEdge);
    // A band whose accepted range is empty (the lowest: at most 80 Hz and at least 90 Hz) has no
    // candidate whatever the signal, so its filtering is skipped.
    const bool accepts = std::max(bandEdge * 0.5, 90.0) <= std::min(bandEdge, 800.0);
    if (!bandFits(h, N, yLen) || !accepts)
    {
        for (int i = 0; i < m; ++i)
        {
            candidates[i] = 0.0;
            stability[i] = kNoDeviation / (0.0 + 1e-8);
        }
        return;
    }
    const FftComplex* window = windowSpectra.data() + static_cast<size_t>(b) * bins;
    for (int k = 0; k < bins; ++k)
    {
        const FftComplex p = window[k];
        const FftComplex u = spectrum[k];
        filterSpectrum[k] = {p.re * u.re - p.im * u.im, p.re * u.im + p.im * u.re};
    }
    executeFft(filterInverse);
    bandFromFiltered(filterBuffer.data(), h, bandEdge, rate, yLen, times, m, bandSignal.data(),
                     centres.data(), frequencies.data(), kinds.data(), candidates,
                     deviations.data());
    for (int i = 0; i < m; ++i)
        stability[i] = deviations[i] / (candidates[i] + 1e-8);
}

void F0Workspace::select(double* f0)
{
    if (m <= 0) return;
    traceF0Contour(kF0BandCount, m, f0Rows, stabilityRows, trace_);
    std::copy(trace_.step4, trace_.step4 + m, f0);
}
