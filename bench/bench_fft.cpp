// Real FFT, forward then inverse, ours against FFTW's r2c/c2r at the same lengths in one run.
// FFTW plans are made with FFTW_MEASURE. Ours runs twice: on std::vector arrays (16-byte
// aligned, as the engine's callers have them) and on 64-byte aligned arrays as FFTW gets them.
#include "fft.h"
#include "fftkernels.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <vector>

namespace
{

std::vector<double> testSignal(int n)
{
    std::vector<double> x(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j)
        x[j] = std::sin(0.37 * j) + 0.25 * std::cos(1.91 * j);
    return x;
}

void runOurs(benchmark::State& state, double* x, FftComplex* spectrum, double* y)
{
    const int n = static_cast<int>(state.range(0));
    FftPlan forward = planForwardReal(n, x, spectrum);
    FftPlan inverse = planInverseReal(n, spectrum, y);
    for (auto _ : state)
    {
        executeFft(forward);
        executeFft(inverse);
        benchmark::DoNotOptimize(y);
        benchmark::ClobberMemory();
    }
    destroyFftPlan(forward);
    destroyFftPlan(inverse);
    state.SetLabel(activeFftKernelSet() == FftKernelSet::vectorAvx2 ? "avx2" : "baseline");
}

void ourForwardInverse(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    std::vector<double> x = testSignal(n);
    std::vector<double> y(static_cast<size_t>(n));
    std::vector<FftComplex> spectrum(static_cast<size_t>(n / 2 + 1));
    runOurs(state, x.data(), spectrum.data(), y.data());
}

void ourForwardInverseAligned(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    double* x = fftw_alloc_real(static_cast<size_t>(n));
    double* y = fftw_alloc_real(static_cast<size_t>(n));
    fftw_complex* spectrum = fftw_alloc_complex(static_cast<size_t>(n / 2 + 1));
    const std::vector<double> signal = testSignal(n);
    for (int j = 0; j < n; ++j)
        x[j] = signal[j];
    runOurs(state, x, reinterpret_cast<FftComplex*>(spectrum), y);
    fftw_free(x);
    fftw_free(y);
    fftw_free(spectrum);
}

void fftwForwardInverse(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    double* x = fftw_alloc_real(static_cast<size_t>(n));
    double* y = fftw_alloc_real(static_cast<size_t>(n));
    fftw_complex* spectrum = fftw_alloc_complex(static_cast<size_t>(n / 2 + 1));
    // Planning with MEASURE overwrites the arrays, so fill them afterwards.
    fftw_plan forward = fftw_plan_dft_r2c_1d(n, x, spectrum, FFTW_MEASURE);
    fftw_plan inverse = fftw_plan_dft_c2r_1d(n, spectrum, y, FFTW_MEASURE);
    const std::vector<double> signal = testSignal(n);
    for (int j = 0; j < n; ++j)
        x[j] = signal[j];
    for (auto _ : state)
    {
        fftw_execute(forward);
        fftw_execute(inverse);
        benchmark::DoNotOptimize(y);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(x);
    fftw_free(y);
    fftw_free(spectrum);
}

} // namespace

BENCHMARK(ourForwardInverse)->Arg(256)->Arg(2048)->Arg(4096);
BENCHMARK(ourForwardInverseAligned)->Arg(256)->Arg(2048)->Arg(4096);
BENCHMARK(fftwForwardInverse)->Arg(256)->Arg(2048)->Arg(4096);
