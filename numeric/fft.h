// Real-input fast Fourier transform of power-of-two length behind a small plan interface.
//
// Sign convention: the forward kernel is e^(+2*pi*i*j*k/n) (the conjugate of the common one) and
// the inverse is unscaled, so inverse(forward(x)) = n * x. Spectra hold n/2 + 1 bins; the
// imaginary parts of bins 0 and n/2 are exactly 0.
//
// A plan's input and output arrays must not overlap: execution uses the output array as scratch
// before writing the result into it. Arrays aligned to 32 bytes run fastest.
//
// Real-time: executeFft allocates nothing, takes no lock and does no I/O; the plan makers
// allocate (std::bad_alloc on failure) and throw std::invalid_argument for a length that is not a
// power of two.
#pragma once

#include <cstdint>

struct FftComplex
{
    double re;
    double im;
};

struct FftPlan
{
    int32_t length;            // n, a power of two
    int32_t direction;         // 1 = forward, 2 = inverse
    int32_t flags;             // always 3
    FftComplex* complexInput;  // inverse plans: n/2 + 1 bins, caller-owned
    double* realInput;         // forward plans: n values, caller-owned
    FftComplex* complexOutput; // forward plans: n/2 + 1 bins, caller-owned
    double* realOutput;        // inverse plans: n values, caller-owned
    double* work;              // owned: n doubles, the caller's input is never modified
    int32_t* indexTable;       // owned: n entries; [0], [1] = n/4, then the pass layout
    double* trigTable;         // owned: 5n/4 doubles of twiddle and split-step tables
};

FftPlan planForwardReal(int n, double* realInput, FftComplex* complexOutput);
FftPlan planInverseReal(int n, FftComplex* complexInput, double* realOutput);
void executeFft(const FftPlan& plan);
void destroyFftPlan(FftPlan& plan);
