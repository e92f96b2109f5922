// Real-input fast Fourier transform of power-of-two length behind a small plan interface.
//
// Sign convention: the forward kernel is e^(+2*pi*i*j*k/n) (the conjugate of the common one) and
// the inverse is unscaled, so inverse(forward(x)) = n * x. Spectra hold n/2 + 1 bins; the
// imaginary parts of bins 0 and n/2 are exactly 0.
//
// Real-time: executeFft allocates nothing and takes no lock; the plan makers allocate.
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
    int32_t* indexTable;       // owned: n entries
    double* trigTable;         // owned: 5n/4 doubles
};

FftPlan planForwardReal(int n, double* realInput, FftComplex* complexOutput);
FftPlan planInverseReal(int n, FftComplex* complexInput, double* realOutput);
void executeFft(const FftPlan& plan);
void destroyFftPlan(FftPlan& plan);
