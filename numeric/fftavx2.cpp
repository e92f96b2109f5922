// The four-lane FFT kernels built for AVX2 and FMA; fft.cpp calls them only when the processor
// reports both.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC target("avx2,fma")
#endif

#define HALVERN_FFT_FMA 1
#include "fftvector.h"

// Real-time: allocate nothing, no lock, no I/O.
void fftForwardAvx2(const FftPlan& plan)
{
    forwardVector(plan);
}
void fftInverseAvx2(const FftPlan& plan)
{
    inverseVector(plan);
}

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
