#include "f0estimation.h"

#include "decimationdesign.h"
#include "f0contour.h"
#include "interpolate.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

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
    {2, {0.04115673456775719, -0.42599112459189636, 0.041037215479961225, 0.16797464681802227,
         0.5039239404540667}},
    {4, {1.4499664446880227, -0.9894349708095058, 0.24578252340690215, 0.03671075033932261,
         0.11013225101796784}},
    {6, {1.971535274951214, -1.4686795689225347, 0.3893908434965701, 0.013469181309343825,
         0.040407543928031475}},
    {8, {2.2357462340187593, -1.7780899984041358, 0.4915255536596869, 0.006352276340711199,
         0.019056829022133598}},
    {11, {2.450743295230728, -2.06794904601978, 0.595747744383321, 0.0026822508007163792,
          0.008046752402149138}},
    {12, {2.4981398605924205, -2.1368928194784025, 0.6218751381622148, 0.0021097275904709,
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

// Releases the plans however the block step is left.
struct PlanGuard
{
    FftPlan plan{};
    bool made = false;
    ~PlanGuard()
    {
        if (made) destroyFftPlan(plan);
    }
};

void reverse(std::vector<double>& v)
{
    for (size_t i = 0, j = v.size() - 1; i < j; ++i, --j)
        std::swap(v[i], v[j]);
}

// Straight-line fill of the frame times from one kind of event; false when the kind has too few
// intervals to be trusted.
bool eventFrequencies(const double* s, int length, double rate, std::vector<double>& centres,
                      std::vector<double>& frequencies, const double* times, int m, double* out)
{
    int count = -1;
    zeroCrossingIntervals(s, length, rate, centres.data(), frequencies.data(), count);
    if (count < 3) return false;
    interpolateLinear(centres.data(), frequencies.data(), count, times, m, out);
    return true;
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
    const int D = decimationFactor(fs);
    const int N = f0TransformLength(n, fs);
    if (m <= 0 || n < 10 || !hasDecimationFilter(D) || N == 0) return false;
    const double rate = static_cast<double>(fs) / D;
    const int yLen = n / D + 1;
    const int bins = N / 2 + 1;

    std::vector<double> y(std::max(N, decimatedCount(n, D)));
    decimate(x, n, D, y.data());
    double mean = 0.0;
    for (int i = 0; i < yLen; ++i)
        mean += y[i];
    mean /= yLen;
    for (int i = 0; i < yLen; ++i)
        y[i] -= mean;
    std::fill(y.begin() + yLen, y.end(), 0.0);

    std::vector<FftComplex> spectrum(bins);
    {
        PlanGuard forward;
        forward.plan = planForwardReal(N, y.data(), spectrum.data());
        forward.made = true;
        executeFft(forward.plan);
    }

    std::vector<double> filterBuffer(N);
    std::vector<FftComplex> filterSpectrum(bins);
    PlanGuard filterForward;
    filterForward.plan = planForwardReal(N, filterBuffer.data(), filterSpectrum.data());
    filterForward.made = true;
    PlanGuard filterInverse;
    filterInverse.plan = planInverseReal(N, filterSpectrum.data(), filterBuffer.data());
    filterInverse.made = true;

    std::vector<double> deviations(m);
    for (int b = 0; b < kF0BandCount; ++b)
    {
        double* candidates = f0Cells + static_cast<size_t>(b) * m;
        double* stability = stabilityCells + static_cast<size_t>(b) * m;
        const double bandEdge = std::pow(2.0, b * 0.5) * 80.0;
        bandCandidates(bandEdge, rate, N, yLen, spectrum.data(), filterBuffer.data(),
                       filterSpectrum.data(), filterForward.plan, filterInverse.plan, times, m,
                       candidates, deviations.data());
        for (int i = 0; i < m; ++i)
            stability[i] = deviations[i] / (candidates[i] + 1e-8);
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
        std::vector<double> f0Cells(static_cast<size_t>(kF0BandCount) * m);
        std::vector<double> stabilityCells(static_cast<size_t>(kF0BandCount) * m);
        // A block that cannot be analysed keeps an empty map and so comes out unvoiced.
        buildF0Map(x, n, fs, times, m, f0Cells.data(), stabilityCells.data());
        const double* f0Map[kF0BandCount];
        const double* stabilityMap[kF0BandCount];
        for (int b = 0; b < kF0BandCount; ++b)
        {
            f0Map[b] = f0Cells.data() + static_cast<size_t>(b) * m;
            stabilityMap[b] = stabilityCells.data() + static_cast<size_t>(b) * m;
        }
        std::vector<double> best(m);
        selectF0Contour(kF0BandCount, n, fs, f0Map, stabilityMap, best.data(), f0);
    }
    catch (const std::bad_alloc&)
    {
        // Out of memory on the audio thread: this block stays unvoiced.
        for (int i = 0; i < m; ++i)
            f0[i] = 0.0;
    }
}

int decimate(const double* x, int n, int D, double* y)
{
    if (n < 10 || !hasDecimationFilter(D)) return 0;
    // Point reflections about the end samples keep the filter from ringing at the block's edges.
    std::vector<double> t(static_cast<size_t>(n) + 18);
    for (int k = 0; k <= 8; ++k)
        t[k] = 2.0 * x[0] - x[9 - k];
    for (int i = 0; i < n; ++i)
        t[9 + static_cast<size_t>(i)] = x[i];
    for (int j = 0; j <= 8; ++j)
        t[static_cast<size_t>(n) + 9 + j] = 2.0 * x[n - 1] - x[n - 2 - j];

    // Two passes in opposite directions cancel each other's phase shift.
    const int length = static_cast<int>(t.size());
    decimationLowPass(t.data(), length, D, t.data());
    reverse(t);
    decimationLowPass(t.data(), length, D, t.data());
    reverse(t);

    const int64_t offset = n % D;
    int count = 0;
    for (int64_t k = 0; offset + k * D < static_cast<int64_t>(n) + 9; ++k)
        y[count++] = t[8 + offset + k * D];
    return count;
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
    const auto noCandidates = [&]
    {
        for (int i = 0; i < m; ++i)
        {
            candidates[i] = 0.0;
            deviations[i] = kNoDeviation;
        }
    };
    const int h = static_cast<int>((decimatedRate / bandEdge + 1.0) * 0.5);
    const int L = 4 * h;
    // The delay-compensated band signal must lie inside the buffer.
    if (h < 1 || L > N || yLen < 2 || yLen + 2 * h > N)
    {
        noCandidates();
        return;
    }

    // Filtering by spectrum product; N leaves room for the window, so nothing wraps around.
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

    std::vector<double> s(filterBuffer + 2 * h, filterBuffer + 2 * h + yLen);
    std::vector<double> centres(yLen / 2 + 1);
    std::vector<double> frequencies(yLen / 2 + 1);
    std::vector<double> kinds(static_cast<size_t>(4) * m);
    double* const T[4] = {kinds.data(), kinds.data() + m, kinds.data() + 2 * m,
                          kinds.data() + 3 * m};

    // Falling and rising crossings, then peaks and dips as crossings of the difference.
    bool usable =
        eventFrequencies(s.data(), yLen, decimatedRate, centres, frequencies, times, m, T[0]);
    for (int i = 0; i < yLen; ++i)
        s[i] = -s[i];
    usable = usable &&
             eventFrequencies(s.data(), yLen, decimatedRate, centres, frequencies, times, m, T[1]);
    for (int i = 0; i + 1 < yLen; ++i)
        s[i] = s[i] - s[i + 1];
    usable = usable && eventFrequencies(s.data(), yLen - 1, decimatedRate, centres, frequencies,
                                        times, m, T[2]);
    for (int i = 0; i + 1 < yLen; ++i)
        s[i] = -s[i];
    usable = usable && eventFrequencies(s.data(), yLen - 1, decimatedRate, centres, frequencies,
                                        times, m, T[3]);
    if (!usable)
    {
        noCandidates();
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

void zeroCrossingIntervals(const double* s, int length, double rate, double* centres,
                           double* frequencies, int& count)
{
    int crossings = 0;
    double previous = 0.0;
    for (int k = 0; k + 1 < length; ++k)
    {
        const double a = s[k];
        const double b = s[k + 1];
        if (a * b < 0.0 && a > b && std::isfinite(a) && std::isfinite(b))
        {
            // Positions count from 1; the offset is the same for every kind of event.
            const double p = (k + 1) + a / (a - b);
            if (crossings > 0)
            {
                frequencies[crossings - 1] = rate / (p - previous);
                centres[crossings - 1] = (previous + p) * 0.5 * (1.0 / rate);
            }
            previous = p;
            ++crossings;
        }
    }
    count = crossings - 1;
}
