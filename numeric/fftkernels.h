// The interchangeable kernels behind executeFft, named so tests and benchmarks can run each one.
#pragma once

#include "fft.h"

enum class FftKernelSet
{
    portable,   // plain scalar code, any compiler
    vector,     // four-lane code for the baseline instruction set (n >= 32)
    vectorAvx2, // the same code built for AVX2 and FMA, used when the processor has them
};

// Whether this build and processor can run `set`.
bool fftKernelSetAvailable(FftKernelSet set);

// The set executeFft uses: the fastest available one.
FftKernelSet activeFftKernelSet();

// executeFft with a chosen set; lengths below the vector sets' minimum run the portable code.
// Real-time: allocates nothing, no lock, no I/O.
void executeFftWith(FftKernelSet set, const FftPlan& plan);
