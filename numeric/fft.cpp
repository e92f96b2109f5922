// Real FFT of length n through one complex transform of M = n/2 points (even samples as real
// parts, odd samples as imaginary parts) and a split step that separates the two spectra.
//
// The complex transform is a self-sorting (Stockham) radix-4 transform over split real/imaginary
// arrays, finished by one radix-8 pass when log2 M is odd. Each pass reads one buffer and
// writes the other; the plan's `work` and the caller's output array take turns, so no bit-reversal
// pass is needed and the caller's input is only ever read.
//
// Tables, all built by the plan makers:
//   trigTable[0, n/4)      twiddles w^(ps), w^(2ps), w^(3ps) of passes 1 .. P-2 (w = e^(2 pi i/M))
//   trigTable[n/4, n/2)    c[0] = cos(pi/4), c[j] = cos(2 pi j/n)/2 for 1 <= j < n/4; the split
//                          step reads cos from c[k] and sin from c[n/4 - k]
//   trigTable[n/2, 5n/4)   twiddles of pass 0 (w^k, w^2k, w^3k for k < M/4), grouped by four
//   indexTable[0], [1]     n/4, n/4: sizes of the twiddle part and of the split-step part
//   indexTable[2]          P, the number of complex passes
//   indexTable[3 + i]      offset in trigTable of pass i's twiddles (i < P - 1)
//   indexTable[2 + P]      radix (8, 4, or 2 for n = 4) of the last pass, which needs no twiddles
#include "fft.h"

#include "fftkernels.h"
#include "fftvector.h"

#include <cmath>
#include <cstddef>
#include <new>
#include <stdexcept>

#if defined(HALVERN_FFT_VECTOR) && (defined(__x86_64__) || defined(__i386__))
#define HALVERN_FFT_AVX2 1
void fftForwardAvx2(const FftPlan& plan);
void fftInverseAvx2(const FftPlan& plan);
#endif

namespace
{

constexpr double pi = 3.141592653589793238462643383279502884;

// The four-lane kernels need at least four butterflies of four in the first pass.
constexpr int vectorMinimumLength = 32;

// Cache-line aligned, so four-double loads and stores never straddle two lines.
constexpr std::align_val_t tableAlignment{64};

template <typename T> T* allocateTable(int count)
{
    T* p = static_cast<T*>(
        ::operator new[](sizeof(T) * static_cast<std::size_t>(count), tableAlignment));
    for (int i = 0; i < count; ++i)
        p[i] = T();
    return p;
}

template <typename T> void releaseTable(T* p)
{
    if (p) ::operator delete[](p, tableAlignment);
}

bool isPowerOfTwo(int n)
{
    return n >= 1 && (n & (n - 1)) == 0;
}

// Radix-4 passes while sub-transforms have more than 8 points, then one last pass of radix 2, 4
// or 8, which needs no twiddles.
int passCount(int points)
{
    int passes = 1;
    for (int span = points; span > 8; span /= 4)
        ++passes;
    return passes;
}

int lastRadix(int points)
{
    int span = points;
    while (span > 8)
        span /= 4;
    return span;
}

// Pass 0's twiddle w^(jk), j = 1..3, from its table grouped by four k (re x4, im x4 per j).
void pass0Twiddle(const double* table, int k, int j, double& re, double& im)
{
    const int base = 6 * (k & ~3) + (k & 3) + 8 * (j - 1);
    re = table[base];
    im = table[base + 4];
}

void buildTables(FftPlan& plan)
{
    const int n = plan.length;
    const int points = n / 2;
    double* trig = plan.trigTable;
    int32_t* index = plan.indexTable;
    index[0] = n / 4;
    index[1] = n / 4;
    if (n < 4) return;

    // Split-step table.
    double* c = trig + n / 4;
    // Both halves from angles below pi/4, where cos and sin are most accurate.
    c[0] = std::cos(pi / 4);
    for (int j = 1; j < n / 8; ++j)
    {
        c[j] = 0.5 * std::cos(2.0 * pi * j / n);
        c[n / 4 - j] = 0.5 * std::sin(2.0 * pi * j / n);
    }
    if (n >= 8) c[n / 8] = 0.5 * c[0];

    const int passes = passCount(points);
    index[2] = passes;
    index[2 + passes] = lastRadix(points);

    // Pass 0; a single pass (M <= 8) has no twiddles.
    const double step = 2.0 * pi / points;
    if (passes > 1)
    {
        index[3] = n / 2;
        double* first = trig + n / 2;
        for (int k = 0; k < points / 4; ++k)
            for (int j = 1; j <= 3; ++j)
            {
                const int base = 6 * (k & ~3) + (k & 3) + 8 * (j - 1);
                first[base] = std::cos(step * j * k);
                first[base + 4] = std::sin(step * j * k);
            }
    }

    // Passes 1 .. P-2, compact: six values per butterfly group p, shared by all its lanes.
    int offset = 0;
    int span = points / 4;
    for (int i = 1, stride = 4; i < passes - 1; ++i, span /= 4, stride *= 4)
    {
        if (offset + 6 * (span / 4) > n / 4) throw std::logic_error("FFT twiddle table overflow");
        index[3 + i] = offset;
        for (int p = 0; p < span / 4; ++p)
            for (int j = 1; j <= 3; ++j)
            {
                trig[offset + 6 * p + 2 * (j - 1)] = std::cos(step * j * p * stride);
                trig[offset + 6 * p + 2 * (j - 1) + 1] = std::sin(step * j * p * stride);
            }
        offset += 6 * (span / 4);
    }
}

FftPlan makePlan(int n, int32_t direction)
{
    // Any other length would index past the tables; refuse it before anything runs.
    if (!isPowerOfTwo(n)) throw std::invalid_argument("FFT length must be a power of two");
    FftPlan plan{};
    plan.length = n;
    plan.direction = direction;
    plan.flags = 3;
    // Lengths below 8 keep a few spare entries so the fixed header of indexTable fits.
    const int padded = n < 8 ? 8 : n;
    plan.work = allocateTable<double>(padded);
    plan.indexTable = allocateTable<int32_t>(padded);
    try
    {
        plan.trigTable = allocateTable<double>(padded * 5 / 4);
        buildTables(plan);
    }
    catch (...)
    {
        releaseTable(plan.work);
        releaseTable(plan.indexTable);
        throw;
    }
    return plan;
}

// ---- Portable kernels -------------------------------------------------------------------------

// A strided view of complex values: split arrays (step 1) or interleaved pairs (step 2).
struct Complexes
{
    double* re;
    double* im;
    int step;
};

// The last pass when it has radix 8: eight-point transforms of the values `stride` apart, as a
// radix-2 step (with the eighth roots of unity) followed by two four-point transforms.
void portableRadix8(Complexes in, Complexes out, int stride)
{
    const double h = 0.70710678118654752440084436210485;
    for (int q = 0; q < stride; ++q)
    {
        double ar[4], ai[4], br[4], bi[4];
        for (int r = 0; r < 4; ++r)
        {
            const int at = (q + stride * r) * in.step, far = (q + stride * (r + 4)) * in.step;
            ar[r] = in.re[at] + in.re[far];
            ai[r] = in.im[at] + in.im[far];
            br[r] = in.re[at] - in.re[far];
            bi[r] = in.im[at] - in.im[far];
        }
        // b[r] *= e^(2 pi i r/8)
        const double b1r = (br[1] - bi[1]) * h, b1i = (br[1] + bi[1]) * h;
        const double b3r = -(br[3] + bi[3]) * h, b3i = (br[3] - bi[3]) * h;
        br[1] = b1r;
        bi[1] = b1i;
        const double b2r = -bi[2];
        bi[2] = br[2];
        br[2] = b2r;
        br[3] = b3r;
        bi[3] = b3i;
        for (int odd = 0; odd < 2; ++odd)
        {
            const double* xr = odd ? br : ar;
            const double* xi = odd ? bi : ai;
            const double t0r = xr[0] + xr[2], t0i = xi[0] + xi[2];
            const double t1r = xr[0] - xr[2], t1i = xi[0] - xi[2];
            const double t2r = xr[1] + xr[3], t2i = xi[1] + xi[3];
            const double t3r = -(xi[1] - xi[3]), t3i = xr[1] - xr[3];
            const double yr[4] = {t0r + t2r, t1r + t3r, t0r - t2r, t1r - t3r};
            const double yi[4] = {t0i + t2i, t1i + t3i, t0i - t2i, t1i - t3i};
            for (int j = 0; j < 4; ++j)
            {
                const int at = (q + stride * (2 * j + odd)) * out.step;
                out.re[at] = yr[j];
                out.im[at] = yi[j];
            }
        }
    }
}

// One pass of the self-sorting transform: radix 4 with twiddles, or the last pass.
void portablePass(const FftPlan& plan, Complexes in, Complexes out, int span, int stride)
{
    const double* table = plan.trigTable + plan.length / 2;
    if (span == 2)
    {
        for (int q = 0; q < stride; ++q)
        {
            const int a = q * in.step, b = (q + stride) * in.step;
            const double ar = in.re[a], ai = in.im[a], br = in.re[b], bi = in.im[b];
            out.re[q * out.step] = ar + br;
            out.im[q * out.step] = ai + bi;
            out.re[(q + stride) * out.step] = ar - br;
            out.im[(q + stride) * out.step] = ai - bi;
        }
        return;
    }
    if (span == 8)
    {
        portableRadix8(in, out, stride);
        return;
    }
    const int quarter = span / 4;
    for (int p = 0; p < quarter; ++p)
    {
        double wr[4] = {1.0, 1.0, 1.0, 1.0}, wi[4] = {0.0, 0.0, 0.0, 0.0};
        for (int j = 1; j <= 3; ++j)
            if (p > 0) pass0Twiddle(table, p * stride, j, wr[j], wi[j]);
        for (int q = 0; q < stride; ++q)
        {
            double xr[4], xi[4];
            for (int j = 0; j < 4; ++j)
            {
                const int at = (q + stride * (p + j * quarter)) * in.step;
                xr[j] = in.re[at];
                xi[j] = in.im[at];
            }
            const double t0r = xr[0] + xr[2], t0i = xi[0] + xi[2];
            const double t1r = xr[0] - xr[2], t1i = xi[0] - xi[2];
            const double t2r = xr[1] + xr[3], t2i = xi[1] + xi[3];
            const double t3r = -(xi[1] - xi[3]), t3i = xr[1] - xr[3]; // i (b - d)
            const double yr[4] = {t0r + t2r, t1r + t3r, t0r - t2r, t1r - t3r};
            const double yi[4] = {t0i + t2i, t1i + t3i, t0i - t2i, t1i - t3i};
            for (int j = 0; j < 4; ++j)
            {
                const int at = (q + stride * (4 * p + j)) * out.step;
                out.re[at] = yr[j] * wr[j] - yi[j] * wi[j];
                out.im[at] = yr[j] * wi[j] + yi[j] * wr[j];
            }
        }
    }
}

// Runs every pass from `in` to `out`. Passes before the last alternate between two buffers,
// ending on `beforeLast`, which must not share memory with `out`; neither may share it with `in`
// unless `in` is that pass's own input.
void portablePasses(const FftPlan& plan, Complexes in, Complexes out, Complexes beforeLast,
                    Complexes other)
{
    const int points = plan.length / 2;
    const int passes = passCount(points);
    int span = points;
    Complexes from = in;
    for (int i = 0; i < passes; ++i)
    {
        const Complexes to =
            i == passes - 1 ? out : ((passes - 2 - i) % 2 == 0 ? beforeLast : other);
        portablePass(plan, from, to, span, points / span);
        from = to;
        span /= span <= 8 ? span : 4;
    }
}

// Real-time: allocates nothing, no lock, no I/O.
void portableForward(const FftPlan& plan)
{
    const int n = plan.length, points = n / 2, half = points / 2;
    const double* x = plan.realInput;
    double* out = reinterpret_cast<double*>(plan.complexOutput);
    if (n <= 2)
    {
        out[0] = n == 1 ? x[0] : x[0] + x[1];
        out[1] = 0.0;
        if (n == 2)
        {
            out[2] = x[0] - x[1];
            out[3] = 0.0;
        }
        return;
    }
    double* work = plan.work;
    const Complexes z = {work, work + points, 1};
    const Complexes input = {const_cast<double*>(x), const_cast<double*>(x) + 1, 2};
    portablePasses(plan, input, z, {out, out + points, 1}, z);

    const double* c = plan.trigTable + n / 4;
    for (int k = 1; k < half; ++k)
    {
        const int l = points - k;
        const double ar = z.re[k], ai = z.im[k], br = z.re[l], bi = z.im[l];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        const double oddRe = ai + bi, oddIm = br - ar;
        const double cosine = c[k], sine = c[n / 4 - k]; // both halved
        const double wr = cosine * oddRe - sine * oddIm, wi = cosine * oddIm + sine * oddRe;
        out[2 * k] = er + wr;
        out[2 * k + 1] = ei + wi;
        out[2 * l] = er - wr;
        out[2 * l + 1] = wi - ei;
    }
    const double re0 = z.re[0], im0 = z.im[0];
    out[2 * half] = z.re[half];
    out[2 * half + 1] = z.im[half];
    out[0] = re0 + im0;
    out[1] = 0.0;
    out[2 * points] = re0 - im0;
    out[2 * points + 1] = 0.0;
}

// Real-time: allocates nothing, no lock, no I/O.
void portableInverse(const FftPlan& plan)
{
    const int n = plan.length, points = n / 2, half = points / 2;
    const double* in = reinterpret_cast<const double*>(plan.complexInput);
    double* y = plan.realOutput;
    if (n <= 2)
    {
        if (n == 1)
            y[0] = in[0];
        else
        {
            const double first = in[0], last = in[2];
            y[0] = first + last;
            y[1] = first - last;
        }
        return;
    }
    // Swapped real and imaginary parts turn the forward passes into inverse ones. The split step
    // writes where the first pass does not.
    const Complexes work = {plan.work, plan.work + points, 1};
    const Complexes scratch = {y, y + points, 1};
    const Complexes z = passCount(points) % 2 == 1 ? work : scratch;
    const double* c = plan.trigTable + n / 4;
    for (int k = 1; k < half; ++k)
    {
        const int l = points - k;
        const double xr = in[2 * k], xi = in[2 * k + 1], yr = in[2 * l], yi = in[2 * l + 1];
        const double ar = xr + yr, ai = xi - yi, br = 2.0 * (xr - yr), bi = 2.0 * (xi + yi);
        const double cosine = c[k], sine = c[n / 4 - k];
        const double cr = sine * br - cosine * bi, ci = cosine * br + sine * bi;
        z.re[k] = ai + ci;
        z.im[k] = ar + cr;
        z.re[l] = ci - ai;
        z.im[l] = ar - cr;
    }
    const double first = in[0], last = in[2 * points];
    z.re[half] = 2.0 * in[2 * half + 1];
    z.im[half] = 2.0 * in[2 * half];
    z.re[0] = first - last;
    z.im[0] = first + last;
    const Complexes output = {y + 1, y, 2};
    portablePasses(plan, z, output, work, scratch);
}

// ---- Selection --------------------------------------------------------------------------------

using Kernel = void (*)(const FftPlan&);

struct Kernels
{
    Kernel forward;
    Kernel inverse;
};

#if defined(HALVERN_FFT_VECTOR)
bool processorHasAvx2()
{
#if defined(HALVERN_FFT_AVX2)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}
#endif

Kernels kernelsFor(FftKernelSet set)
{
#if defined(HALVERN_FFT_AVX2)
    if (set == FftKernelSet::vectorAvx2) return {fftForwardAvx2, fftInverseAvx2};
#endif
#if defined(HALVERN_FFT_VECTOR)
    if (set == FftKernelSet::vector) return {forwardVector, inverseVector};
#endif
    (void)set;
    return {portableForward, portableInverse};
}

FftKernelSet chooseKernelSet()
{
#if defined(HALVERN_FFT_VECTOR)
    return processorHasAvx2() ? FftKernelSet::vectorAvx2 : FftKernelSet::vector;
#else
    return FftKernelSet::portable;
#endif
}

// Chosen once while the library loads, so execution never has to ask.
const FftKernelSet activeSet = chooseKernelSet();
const Kernels activeKernels = kernelsFor(activeSet);

void run(const Kernels& kernels, const FftPlan& plan)
{
    const bool useVector = plan.length >= vectorMinimumLength && kernels.forward != nullptr;
    if (plan.direction == 1)
        (useVector ? kernels.forward : portableForward)(plan);
    else
        (useVector ? kernels.inverse : portableInverse)(plan);
}

} // namespace

bool fftKernelSetAvailable(FftKernelSet set)
{
    switch (set)
    {
    case FftKernelSet::portable:
        return true;
    case FftKernelSet::vector:
#if defined(HALVERN_FFT_VECTOR)
        return true;
#else
        return false;
#endif
    case FftKernelSet::vectorAvx2:
#if defined(HALVERN_FFT_AVX2)
        return processorHasAvx2();
#else
        return false;
#endif
    }
    return false;
}

FftKernelSet activeFftKernelSet()
{
    return activeSet;
}

void executeFftWith(FftKernelSet set, const FftPlan& plan)
{
    run(kernelsFor(set), plan);
}

FftPlan planForwardReal(int n, double* realInput, FftComplex* complexOutput)
{
    FftPlan plan = makePlan(n, 1);
    plan.realInput = realInput;
    plan.complexOutput = complexOutput;
    return plan;
}

FftPlan planInverseReal(int n, FftComplex* complexInput, double* realOutput)
{
    FftPlan plan = makePlan(n, 2);
    plan.complexInput = complexInput;
    plan.realOutput = realOutput;
    return plan;
}

// Real-time: allocates nothing, no lock, no I/O.
void executeFft(const FftPlan& plan)
{
    run(activeKernels, plan);
}

void destroyFftPlan(FftPlan& plan)
{
    releaseTable(plan.work);
    releaseTable(plan.indexTable);
    releaseTable(plan.trigTable);
    plan.work = nullptr;
    plan.indexTable = nullptr;
    plan.trigTable = nullptr;
}
