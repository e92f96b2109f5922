#include "fft.h"

#include <cmath>
#include <stdexcept>

namespace
{

constexpr double twoPi = 6.283185307179586476925286766559;

bool isPowerOfTwo(int n)
{
    return n >= 1 && (n & (n - 1)) == 0;
}

FftPlan makePlan(int n, int32_t direction)
{
    // Any other length would index past the tables; refuse it while no audio depends on it.
    if (!isPowerOfTwo(n)) throw std::invalid_argument("FFT length must be a power of two");
    FftPlan plan{};
    plan.length = n;
    plan.direction = direction;
    plan.flags = 3;
    const int tableLength = n < 8 ? 8 : n;
    plan.work = new double[tableLength]();
    plan.indexTable = new int32_t[tableLength]();
    plan.trigTable = new double[tableLength * 5 / 4]();

    const int half = n / 2;
    plan.indexTable[0] = n / 4;
    plan.indexTable[1] = n / 4;
    int bits = 0;
    while ((1 << bits) < half)
        ++bits;
    for (int m = 0; m < half; ++m)
    {
        int reversed = 0;
        for (int b = 0; b < bits; ++b)
            if (m & (1 << b)) reversed |= 1 << (bits - 1 - b);
        plan.indexTable[2 + m] = reversed;
    }
    // e^(+2 pi i k / (n/2)) for k < n/8 would suffice by symmetry; keep the simple full quarter.
    for (int k = 0; k < n / 8; ++k)
    {
        plan.trigTable[2 * k] = std::cos(twoPi * k / half);
        plan.trigTable[2 * k + 1] = std::sin(twoPi * k / half);
    }
    return plan;
}

// In-place radix-2 complex transform of `count` interleaved points, kernel e^(sign 2 pi i
// jk/count).
void complexTransform(double* z, int count, const int32_t* reversal, double sign)
{
    for (int m = 0; m < count; ++m)
    {
        const int r = reversal[m];
        if (r > m)
        {
            std::swap(z[2 * m], z[2 * r]);
            std::swap(z[2 * m + 1], z[2 * r + 1]);
        }
    }
    for (int span = 1; span < count; span *= 2)
    {
        for (int k = 0; k < span; ++k)
        {
            const double c = std::cos(twoPi * k / (2 * span));
            const double s = sign * std::sin(twoPi * k / (2 * span));
            for (int a = k; a < count; a += 2 * span)
            {
                const int b = a + span;
                const double tr = z[2 * b] * c - z[2 * b + 1] * s;
                const double ti = z[2 * b] * s + z[2 * b + 1] * c;
                z[2 * b] = z[2 * a] - tr;
                z[2 * b + 1] = z[2 * a + 1] - ti;
                z[2 * a] += tr;
                z[2 * a + 1] += ti;
            }
        }
    }
}

void forward(const FftPlan& plan)
{
    const int n = plan.length;
    const double* x = plan.realInput;
    FftComplex* out = plan.complexOutput;
    if (n == 1)
    {
        out[0] = {x[0], 0.0};
        return;
    }
    const int half = n / 2;
    double* z = plan.work;
    for (int j = 0; j < n; ++j)
        z[j] = x[j];
    complexTransform(z, half, plan.indexTable + 2, 1.0);

    out[0] = {z[0] + z[1], 0.0};
    out[half] = {z[0] - z[1], 0.0};
    for (int k = 1; k <= half / 2; ++k)
    {
        const int l = half - k;
        const double ar = z[2 * k], ai = z[2 * k + 1];
        const double br = z[2 * l], bi = z[2 * l + 1];
        // Even and odd sample spectra from one complex transform.
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        const double or_ = 0.5 * (ai + bi), oi = -0.5 * (ar - br);
        const double c = std::cos(twoPi * k / n), s = std::sin(twoPi * k / n);
        const double wr = c * or_ - s * oi, wi = c * oi + s * or_;
        out[k] = {er + wr, ei + wi};
        out[l] = {er - wr, -(ei - wi)};
    }
}

void inverse(const FftPlan& plan)
{
    const int n = plan.length;
    const FftComplex* in = plan.complexInput;
    double* y = plan.realOutput;
    if (n == 1)
    {
        y[0] = in[0].re;
        return;
    }
    const int half = n / 2;
    double* z = plan.work;
    z[0] = in[0].re + in[half].re;
    z[1] = in[0].re - in[half].re;
    for (int k = 1; k <= half / 2; ++k)
    {
        const int l = half - k;
        const double ar = in[k].re + in[l].re, ai = in[k].im - in[l].im;
        const double br = in[k].re - in[l].re, bi = in[k].im + in[l].im;
        const double c = std::cos(twoPi * k / n), s = std::sin(twoPi * k / n);
        // i * conj(w) * b
        const double tr = -(c * bi - s * br), ti = c * br + s * bi;
        z[2 * k] = ar + tr;
        z[2 * k + 1] = ai + ti;
        z[2 * l] = ar - tr;
        z[2 * l + 1] = -(ai - ti);
    }
    complexTransform(z, half, plan.indexTable + 2, -1.0);
    for (int j = 0; j < n; ++j)
        y[j] = z[j];
}

} // namespace

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

void executeFft(const FftPlan& plan)
{
    if (plan.direction == 1)
        forward(plan);
    else
        inverse(plan);
}

void destroyFftPlan(FftPlan& plan)
{
    delete[] plan.work;
    delete[] plan.indexTable;
    delete[] plan.trigTable;
    plan.work = nullptr;
    plan.indexTable = nullptr;
    plan.trigTable = nullptr;
}
