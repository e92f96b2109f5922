// Kernels built a second time for AVX2, picked at run time on processors that have it.
//
// Only AVX2 proper is enabled for them, never fused multiply-add: every lane rounds each
// operation exactly as the portable code does, so both give the same bits.
#pragma once

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define HALVERN_AVX2_KERNELS 1
#define HALVERN_TARGET_AVX2 __attribute__((target("avx2")))

// Set once while the library loads.
extern const bool processorHasAvx2;
#endif
