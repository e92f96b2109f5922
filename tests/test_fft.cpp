// The real FFT judged against a direct DFT in long double, plus its exact edge cases.
#include "fft.h"
#include "fftkernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

// Counts every allocation in this program so the test can show that execution allocates nothing.
static std::atomic<long> allocationCount{0};

// Out of line so the compiler does not pair the replaced operators with malloc and free itself.
[[gnu::noinline]] static void* countedAllocate(std::size_t size)
{
    ++allocationCount;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] static void countedRelease(void* p) noexcept
{
    std::free(p);
}

void* operator new(std::size_t size)
{
    return countedAllocate(size);
}
void* operator new[](std::size_t size)
{
    return countedAllocate(size);
}
void operator delete(void* p) noexcept
{
    countedRelease(p);
}
void operator delete[](void* p) noexcept
{
    countedRelease(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    countedRelease(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    countedRelease(p);
}

namespace
{

// The kernel set the running test exercises.
FftKernelSet kernelSet = FftKernelSet::portable;

void execute(const FftPlan& plan)
{
    executeFftWith(kernelSet, plan);
}

constexpr long double twoPiL = 6.283185307179586476925286766559005768L;

std::vector<double> randomSignal(int n, uint32_t seed)
{
    std::vector<double> out(static_cast<size_t>(n));
    uint32_t state = seed;
    for (auto& v : out)
    {
        state = state * 1664525u + 1013904223u;
        v = static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
    return out;
}

// cos and sin of 2 pi r / n for every residue r, so the direct sums never lose the angle.
struct UnitCircle
{
    explicit UnitCircle(int n) : cosine(n), sine(n)
    {
        for (int r = 0; r < n; ++r)
        {
            cosine[r] = std::cos(twoPiL * r / n);
            sine[r] = std::sin(twoPiL * r / n);
        }
    }
    std::vector<long double> cosine, sine;
};

// X[k] = sum x[j] e^(+2 pi i jk/n), k = 0..n/2.
std::vector<long double> directForward(const std::vector<double>& x, bool imaginary)
{
    const int n = static_cast<int>(x.size());
    const UnitCircle circle(n);
    std::vector<long double> out(static_cast<size_t>(n / 2 + 1));
    for (int k = 0; k <= n / 2; ++k)
    {
        long double sum = 0;
        for (int j = 0; j < n; ++j)
        {
            const int r = static_cast<int>((static_cast<int64_t>(j) * k) % n);
            sum += x[j] * (imaginary ? circle.sine[r] : circle.cosine[r]);
        }
        out[k] = sum;
    }
    return out;
}

// y[j] = Re Y[0] + Re Y[n/2] (-1)^j + 2 sum_{k=1}^{n/2-1} (Re Y[k] cos + Im Y[k] sin).
std::vector<long double> directInverse(const std::vector<FftComplex>& y, int n)
{
    const UnitCircle circle(n);
    std::vector<long double> out(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j)
    {
        long double sum = y[0].re;
        if (n > 1) sum += (j % 2 ? -1.0L : 1.0L) * y[n / 2].re;
        for (int k = 1; k < n / 2; ++k)
        {
            const int r = static_cast<int>((static_cast<int64_t>(j) * k) % n);
            sum += 2.0L * (y[k].re * circle.cosine[r] + y[k].im * circle.sine[r]);
        }
        out[j] = sum;
    }
    return out;
}

std::vector<double> forwardReal(const std::vector<double>& x, std::vector<FftComplex>& spectrum)
{
    const int n = static_cast<int>(x.size());
    std::vector<double> input = x;
    spectrum.assign(static_cast<size_t>(n / 2 + 1), FftComplex{-7.0, -7.0});
    FftPlan plan = planForwardReal(n, input.data(), spectrum.data());
    execute(plan);
    destroyFftPlan(plan);
    return input;
}

std::vector<double> inverseReal(const std::vector<FftComplex>& y, int n)
{
    std::vector<FftComplex> input = y;
    std::vector<double> out(static_cast<size_t>(n), -7.0);
    FftPlan plan = planInverseReal(n, input.data(), out.data());
    execute(plan);
    destroyFftPlan(plan);
    return out;
}

double log2Of(int n)
{
    return n > 1 ? std::log2(static_cast<double>(n)) : 1.0;
}

const char* kernelSetName(FftKernelSet set)
{
    switch (set)
    {
    case FftKernelSet::portable:
        return "portable";
    case FftKernelSet::vector:
        return "vector";
    case FftKernelSet::vectorAvx2:
        return "vectorAvx2";
    }
    return "unknown";
}

// Every test runs for each kernel set this build and processor offer, at every length.
class AllLengths : public ::testing::TestWithParam<std::tuple<FftKernelSet, int>>
{
protected:
    void SetUp() override
    {
        kernelSet = std::get<0>(GetParam());
        if (!fftKernelSetAvailable(kernelSet))
            GTEST_SKIP() << kernelSetName(kernelSet) << " kernels are not available here";
    }
    int length() const { return std::get<1>(GetParam()); }
};

TEST_P(AllLengths, ForwardMatchesDirectDft)
{
    const int n = length();
    const std::vector<double> x = randomSignal(n, 1000u + static_cast<uint32_t>(n));
    std::vector<FftComplex> spectrum;
    forwardReal(x, spectrum);
    const std::vector<long double> re = directForward(x, false);
    const std::vector<long double> im = directForward(x, true);
    // Rounding grows with log n over values of size sqrt(n).
    const double tolerance = 4e-16 * log2Of(n) * std::sqrt(static_cast<double>(n));
    for (int k = 0; k <= n / 2; ++k)
    {
        EXPECT_NEAR(spectrum[k].re, static_cast<double>(re[k]), tolerance)
            << "n=" << n << " k=" << k;
        EXPECT_NEAR(spectrum[k].im, static_cast<double>(im[k]), tolerance)
            << "n=" << n << " k=" << k;
    }
    EXPECT_EQ(spectrum[0].im, 0.0);
    EXPECT_EQ(spectrum[n / 2].im, 0.0);
}

TEST_P(AllLengths, InverseMatchesDirectDft)
{
    const int n = length();
    const std::vector<double> parts = randomSignal(n + 2, 2000u + static_cast<uint32_t>(n));
    std::vector<FftComplex> y(static_cast<size_t>(n / 2 + 1));
    for (int k = 0; k <= n / 2; ++k)
        y[k] = {parts[2 * k], parts[2 * k + 1]};
    const std::vector<double> out = inverseReal(y, n);
    const std::vector<long double> expected = directInverse(y, n);
    const double tolerance = 8e-16 * log2Of(n) * std::sqrt(static_cast<double>(n));
    for (int j = 0; j < n; ++j)
        EXPECT_NEAR(out[j], static_cast<double>(expected[j]), tolerance) << "n=" << n << " j=" << j;
}

TEST_P(AllLengths, RoundTripGivesNTimesInput)
{
    const int n = length();
    const std::vector<double> x = randomSignal(n, 3000u + static_cast<uint32_t>(n));
    std::vector<FftComplex> spectrum;
    forwardReal(x, spectrum);
    const std::vector<double> back = inverseReal(spectrum, n);
    const double tolerance = 1e-15 * n * log2Of(n);
    for (int j = 0; j < n; ++j)
        EXPECT_NEAR(back[j], n * x[j], tolerance) << "n=" << n << " j=" << j;
}

TEST_P(AllLengths, ImpulseAtZeroIsFlat)
{
    const int n = length();
    std::vector<double> x(static_cast<size_t>(n), 0.0);
    x[0] = 1.0;
    std::vector<FftComplex> spectrum;
    forwardReal(x, spectrum);
    for (int k = 0; k <= n / 2; ++k)
    {
        EXPECT_NEAR(spectrum[k].re, 1.0, 1e-15) << k;
        EXPECT_NEAR(spectrum[k].im, 0.0, 1e-15) << k;
    }
    EXPECT_EQ(spectrum[0].im, 0.0);
    EXPECT_EQ(spectrum[n / 2].im, 0.0);
}

TEST_P(AllLengths, ImpulseAtOneUsesThePositiveKernel)
{
    const int n = length();
    if (n < 2) return;
    std::vector<double> x(static_cast<size_t>(n), 0.0);
    x[1] = 1.0;
    std::vector<FftComplex> spectrum;
    forwardReal(x, spectrum);
    for (int k = 0; k <= n / 2; ++k)
    {
        EXPECT_NEAR(spectrum[k].re, std::cos(2.0 * M_PI * k / n), 1e-15) << "n=" << n << " k=" << k;
        EXPECT_NEAR(spectrum[k].im, std::sin(2.0 * M_PI * k / n), 1e-15) << "n=" << n << " k=" << k;
    }
    EXPECT_EQ(spectrum[0].im, 0.0);
    EXPECT_EQ(spectrum[n / 2].im, 0.0);
}

TEST_P(AllLengths, ConstantAndAlternatingInputs)
{
    const int n = length();
    if (n < 2) return;
    const double c = 0.375;
    std::vector<double> constant(static_cast<size_t>(n), c);
    std::vector<double> alternating(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j)
        alternating[j] = j % 2 ? -c : c;
    std::vector<FftComplex> spectrum;

    forwardReal(constant, spectrum);
    EXPECT_EQ(spectrum[0].re, n * c);
    EXPECT_EQ(spectrum[0].im, 0.0);
    for (int k = 1; k <= n / 2; ++k)
    {
        EXPECT_NEAR(spectrum[k].re, 0.0, 1e-15 * n) << k;
        EXPECT_NEAR(spectrum[k].im, 0.0, 1e-15 * n) << k;
    }

    forwardReal(alternating, spectrum);
    EXPECT_EQ(spectrum[n / 2].re, n * c);
    EXPECT_EQ(spectrum[n / 2].im, 0.0);
    for (int k = 0; k < n / 2; ++k)
    {
        EXPECT_NEAR(spectrum[k].re, 0.0, 1e-15 * n) << k;
        EXPECT_NEAR(spectrum[k].im, 0.0, 1e-15 * n) << k;
    }
}

TEST_P(AllLengths, InverseIgnoresImaginaryPartsAtZeroAndNyquist)
{
    const int n = length();
    const std::vector<double> parts = randomSignal(n + 2, 4000u + static_cast<uint32_t>(n));
    std::vector<FftComplex> y(static_cast<size_t>(n / 2 + 1));
    for (int k = 0; k <= n / 2; ++k)
        y[k] = {parts[2 * k], parts[2 * k + 1]};
    y[0].im = 0.0;
    y[n / 2].im = 0.0;
    const std::vector<double> clean = inverseReal(y, n);
    y[0].im = 123.5;
    y[n / 2].im = -98.25;
    const std::vector<double> dirty = inverseReal(y, n);
    for (int j = 0; j < n; ++j)
        EXPECT_EQ(clean[j], dirty[j]) << j;
}

TEST_P(AllLengths, InputsAreNotModified)
{
    const int n = length();
    const std::vector<double> x = randomSignal(n, 5000u + static_cast<uint32_t>(n));
    std::vector<FftComplex> spectrum;
    const std::vector<double> after = forwardReal(x, spectrum);
    EXPECT_EQ(after, x);

    std::vector<FftComplex> y = spectrum;
    y[0].im = 3.0;
    const std::vector<FftComplex> copy = y;
    std::vector<double> out(static_cast<size_t>(n));
    FftPlan plan = planInverseReal(n, y.data(), out.data());
    execute(plan);
    destroyFftPlan(plan);
    for (int k = 0; k <= n / 2; ++k)
    {
        EXPECT_EQ(y[k].re, copy[k].re) << k;
        EXPECT_EQ(y[k].im, copy[k].im) << k;
    }
}

TEST_P(AllLengths, RepeatedExecutionIsIdenticalAndAllocatesNothing)
{
    const int n = length();
    std::vector<double> x = randomSignal(n, 6000u + static_cast<uint32_t>(n));
    std::vector<FftComplex> spectrum(static_cast<size_t>(n / 2 + 1));
    std::vector<double> back(static_cast<size_t>(n));
    FftPlan forward = planForwardReal(n, x.data(), spectrum.data());
    FftPlan inverse = planInverseReal(n, spectrum.data(), back.data());

    long before = allocationCount.load();
    execute(forward);
    execute(inverse);
    EXPECT_EQ(allocationCount.load(), before);
    const std::vector<FftComplex> firstSpectrum = spectrum;
    const std::vector<double> firstBack = back;
    before = allocationCount.load();
    for (int repeat = 0; repeat < 3; ++repeat)
    {
        execute(forward);
        execute(inverse);
    }
    EXPECT_EQ(allocationCount.load(), before);

    for (int k = 0; k <= n / 2; ++k)
    {
        EXPECT_EQ(spectrum[k].re, firstSpectrum[k].re) << k;
        EXPECT_EQ(spectrum[k].im, firstSpectrum[k].im) << k;
    }
    EXPECT_EQ(back, firstBack);
    destroyFftPlan(forward);
    destroyFftPlan(inverse);
}

// The caller's arrays may sit at any double boundary; the result must not depend on it.
TEST_P(AllLengths, ArraysAtEveryAlignmentGiveTheSameResult)
{
    const int n = length();
    const std::vector<double> x = randomSignal(n, 9000u + static_cast<uint32_t>(n));
    std::vector<FftComplex> reference;
    forwardReal(x, reference);
    const std::vector<double> back = inverseReal(reference, n);

    for (int shift = 0; shift < 4; ++shift)
    {
        std::vector<double> input(n + 8), spectrum(n + 2 + 8), output(n + 8);
        double* in = input.data() + shift;
        double* bins = spectrum.data() + shift;
        double* out = output.data() + shift;
        for (int j = 0; j < n; ++j)
            in[j] = x[j];
        FftPlan forward = planForwardReal(n, in, reinterpret_cast<FftComplex*>(bins));
        FftPlan inverse = planInverseReal(n, reinterpret_cast<FftComplex*>(bins), out);
        execute(forward);
        execute(inverse);
        destroyFftPlan(forward);
        destroyFftPlan(inverse);
        for (int k = 0; k <= n / 2; ++k)
        {
            EXPECT_EQ(bins[2 * k], reference[k].re) << "shift " << shift << " k " << k;
            EXPECT_EQ(bins[2 * k + 1], reference[k].im) << "shift " << shift << " k " << k;
        }
        for (int j = 0; j < n; ++j)
            EXPECT_EQ(out[j], back[j]) << "shift " << shift << " j " << j;
        // Nothing outside the stated arrays is touched.
        for (int j = 0; j < shift; ++j)
        {
            EXPECT_EQ(spectrum[j], 0.0);
            EXPECT_EQ(output[j], 0.0);
        }
        for (size_t j = shift + n + 2; j < spectrum.size(); ++j)
            EXPECT_EQ(spectrum[j], 0.0) << "shift " << shift << " j " << j;
        for (size_t j = shift + n; j < output.size(); ++j)
            EXPECT_EQ(output[j], 0.0) << "shift " << shift << " j " << j;
    }
}

// The estimator's use: spectra multiplied bin by bin transform back to n times the circular
// convolution of the two inputs.
TEST_P(AllLengths, SpectralProductIsCircularConvolution)
{
    const int n = length();
    const std::vector<double> a = randomSignal(n, 7000u + static_cast<uint32_t>(n));
    const std::vector<double> b = randomSignal(n, 8000u + static_cast<uint32_t>(n));
    std::vector<FftComplex> sa, sb;
    forwardReal(a, sa);
    forwardReal(b, sb);
    for (int k = 0; k <= n / 2; ++k)
    {
        const FftComplex p = sa[k], q = sb[k];
        sa[k] = {p.re * q.re - p.im * q.im, p.re * q.im + p.im * q.re};
    }
    const std::vector<double> out = inverseReal(sa, n);
    for (int j = 0; j < n; ++j)
    {
        long double sum = 0;
        for (int i = 0; i < n; ++i)
            sum += static_cast<long double>(a[i]) * b[(j - i + n) % n];
        EXPECT_NEAR(out[j], static_cast<double>(n * sum), 4e-15 * n * n * log2Of(n) / 8.0 + 1e-12)
            << "n=" << n << " j=" << j;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PowersOfTwo, AllLengths,
    ::testing::Combine(::testing::Values(FftKernelSet::portable, FftKernelSet::vector,
                                         FftKernelSet::vectorAvx2),
                       ::testing::Values(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096)),
    [](const ::testing::TestParamInfo<std::tuple<FftKernelSet, int>>& info)
    {
        return std::string(kernelSetName(std::get<0>(info.param))) + "_n" +
               std::to_string(std::get<1>(info.param));
    });

TEST(FftKernels, LongTransformsRoundTrip)
{
    // Lengths beyond the engine's, so every table offset and pass count gets exercised.
    for (int n : {8192, 16384, 32768, 65536})
    {
        const std::vector<double> x = randomSignal(n, static_cast<uint32_t>(n));
        std::vector<double> input = x, back(n);
        std::vector<FftComplex> spectrum(n / 2 + 1);
        FftPlan forward = planForwardReal(n, input.data(), spectrum.data());
        FftPlan inverse = planInverseReal(n, spectrum.data(), back.data());
        executeFft(forward);
        // Bin 1 against its direct sum, which a wrong twiddle would miss.
        long double re = 0, im = 0;
        for (int j = 0; j < n; ++j)
        {
            re += x[j] * std::cos(twoPiL * j / n);
            im += x[j] * std::sin(twoPiL * j / n);
        }
        EXPECT_NEAR(spectrum[1].re, static_cast<double>(re), 1e-10) << n;
        EXPECT_NEAR(spectrum[1].im, static_cast<double>(im), 1e-10) << n;
        executeFft(inverse);
        double worst = 0.0;
        for (int j = 0; j < n; ++j)
            worst = std::max(worst, std::fabs(back[j] - n * x[j]));
        EXPECT_LT(worst, 1e-15 * n * std::log2(n) * 4) << n;
        destroyFftPlan(forward);
        destroyFftPlan(inverse);
    }
}

TEST(FftKernels, ExecuteUsesTheFastestAvailableSet)
{
    const FftKernelSet active = activeFftKernelSet();
    EXPECT_TRUE(fftKernelSetAvailable(active));
    if (fftKernelSetAvailable(FftKernelSet::vectorAvx2))
    {
        EXPECT_EQ(active, FftKernelSet::vectorAvx2);
    }
    else if (fftKernelSetAvailable(FftKernelSet::vector))
    {
        EXPECT_EQ(active, FftKernelSet::vector);
    }
}

TEST(FftKernels, KernelSetsAgreeWithEachOther)
{
    // executeFft and every available set give the same spectrum to within rounding.
    const int n = 2048;
    std::vector<double> x = randomSignal(n, 99u);
    std::vector<FftComplex> reference(n / 2 + 1), other(n / 2 + 1);
    FftPlan plan = planForwardReal(n, x.data(), reference.data());
    executeFft(plan);
    destroyFftPlan(plan);
    for (FftKernelSet set :
         {FftKernelSet::portable, FftKernelSet::vector, FftKernelSet::vectorAvx2})
    {
        if (!fftKernelSetAvailable(set)) continue;
        plan = planForwardReal(n, x.data(), other.data());
        executeFftWith(set, plan);
        destroyFftPlan(plan);
        for (int k = 0; k <= n / 2; ++k)
        {
            EXPECT_NEAR(other[k].re, reference[k].re, 1e-12) << kernelSetName(set) << " " << k;
            EXPECT_NEAR(other[k].im, reference[k].im, 1e-12) << kernelSetName(set) << " " << k;
        }
    }
}

TEST(FftPlan, SplitStepTableHoldsHalfCosines)
{
    for (int n : {8, 64, 2048})
    {
        std::vector<double> x(n);
        std::vector<FftComplex> y(n / 2 + 1);
        FftPlan plan = planForwardReal(n, x.data(), y.data());
        const double* c = plan.trigTable + n / 4;
        EXPECT_NEAR(c[0], std::sqrt(0.5), 1e-16);
        EXPECT_NEAR(c[n / 8], 0.5 * std::sqrt(0.5), 1e-16);
        for (int j = 1; j < n / 8; ++j)
        {
            EXPECT_NEAR(c[j], 0.5 * std::cos(2.0 * M_PI * j / n), 1e-16) << n << " " << j;
            EXPECT_NEAR(c[n / 4 - j], 0.5 * std::sin(2.0 * M_PI * j / n), 1e-16) << n << " " << j;
        }
        destroyFftPlan(plan);
    }
}

TEST(FftPlan, FieldsOfAForwardPlan)
{
    std::vector<double> x(2048);
    std::vector<FftComplex> y(1025);
    FftPlan plan = planForwardReal(2048, x.data(), y.data());
    EXPECT_EQ(plan.length, 2048);
    EXPECT_EQ(plan.direction, 1);
    EXPECT_EQ(plan.flags, 3);
    EXPECT_EQ(plan.realInput, x.data());
    EXPECT_EQ(plan.complexOutput, y.data());
    EXPECT_EQ(plan.complexInput, nullptr);
    EXPECT_EQ(plan.realOutput, nullptr);
    ASSERT_NE(plan.work, nullptr);
    ASSERT_NE(plan.indexTable, nullptr);
    ASSERT_NE(plan.trigTable, nullptr);
    EXPECT_EQ(plan.indexTable[0], 512);
    EXPECT_EQ(plan.indexTable[1], 512);
    destroyFftPlan(plan);
    EXPECT_EQ(plan.work, nullptr);
    EXPECT_EQ(plan.indexTable, nullptr);
    EXPECT_EQ(plan.trigTable, nullptr);
}

TEST(FftPlan, FieldsOfAnInversePlan)
{
    std::vector<FftComplex> y(129);
    std::vector<double> x(256);
    FftPlan plan = planInverseReal(256, y.data(), x.data());
    EXPECT_EQ(plan.length, 256);
    EXPECT_EQ(plan.direction, 2);
    EXPECT_EQ(plan.flags, 3);
    EXPECT_EQ(plan.complexInput, y.data());
    EXPECT_EQ(plan.realOutput, x.data());
    EXPECT_EQ(plan.realInput, nullptr);
    EXPECT_EQ(plan.complexOutput, nullptr);
    EXPECT_EQ(plan.indexTable[0], 64);
    EXPECT_EQ(plan.indexTable[1], 64);
    destroyFftPlan(plan);
}

TEST(FftPlan, RejectsLengthsThatAreNotPowersOfTwo)
{
    std::vector<double> x(100);
    std::vector<FftComplex> y(100);
    EXPECT_THROW(planForwardReal(0, x.data(), y.data()), std::invalid_argument);
    EXPECT_THROW(planForwardReal(-8, x.data(), y.data()), std::invalid_argument);
    EXPECT_THROW(planForwardReal(96, x.data(), y.data()), std::invalid_argument);
    EXPECT_THROW(planInverseReal(6, y.data(), x.data()), std::invalid_argument);
}

} // namespace
