// Four-lane kernels of the real FFT for n >= 32, written once and compiled twice: for the
// baseline instruction set (fft.cpp) and with AVX2 and FMA (fftavx2.cpp), picked at load time.
//
// Everything here has internal linkage and calls no library code, so the two builds can never be
// merged by the linker. Include only from those two files.
//
// Layout shared with fft.cpp: the complex transform of M = n/2 points runs on split arrays
// (M real parts, then M imaginary parts) and sorts itself (Stockham), so no bit reversal is
// needed. Stage 1 reads its twiddles from trigTable[n/2 ..] in groups of four points
// (w, w^2, w^3: real x4, imaginary x4 each); later stages from the compact per-stage tables whose
// offsets indexTable[3 ..] holds; the split step from the half-cosine table at trigTable[n/4 ..].
#pragma once

#include "fft.h"

#include <cstdint>

#if defined(__GNUC__)
#define HALVERN_FFT_VECTOR 1

#if defined(HALVERN_FFT_FMA)
#include <immintrin.h>
#endif

// Four-double vectors pass through these internal functions only, never across a library
// boundary, so the warning about their calling convention without AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace
{

typedef double Vec __attribute__((vector_size(32)));

struct Cx
{
    Vec re;
    Vec im;
};

inline Vec load(const double* p)
{
    Vec v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
inline void store(double* p, Vec v)
{
    __builtin_memcpy(p, &v, sizeof v);
}
inline Vec splat(double a)
{
    return Vec{a, a, a, a};
}
inline Vec reverse(Vec v)
{
    return __builtin_shufflevector(v, v, 3, 2, 1, 0);
}

#if defined(HALVERN_FFT_FMA)
inline Vec mulAdd(Vec a, Vec b, Vec c)
{
    return (Vec)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
inline Vec mulSub(Vec a, Vec b, Vec c)
{
    return (Vec)_mm256_fmsub_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
#else
inline Vec mulAdd(Vec a, Vec b, Vec c)
{
    return a * b + c;
}
inline Vec mulSub(Vec a, Vec b, Vec c)
{
    return a * b - c;
}
#endif

inline Cx operator+(Cx a, Cx b)
{
    return {a.re + b.re, a.im + b.im};
}
inline Cx operator-(Cx a, Cx b)
{
    return {a.re - b.re, a.im - b.im};
}
inline Cx timesI(Cx a)
{
    return {-a.im, a.re};
}
inline Cx operator*(Cx a, Cx w)
{
    return {mulSub(a.re, w.re, a.im * w.im), mulAdd(a.re, w.im, a.im * w.re)};
}

// Rows to columns: out[l][j] = in[j][l].
inline void transpose(Vec& r0, Vec& r1, Vec& r2, Vec& r3)
{
    const Vec t0 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6);
    const Vec t1 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7);
    const Vec t2 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6);
    const Vec t3 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
    r0 = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    r1 = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    r2 = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    r3 = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Four complex values from interleaved (re, im) pairs, and back.
inline Cx loadPairs(const double* p)
{
    const Vec u = load(p), v = load(p + 4);
    return {__builtin_shufflevector(u, v, 0, 2, 4, 6), __builtin_shufflevector(u, v, 1, 3, 5, 7)};
}
inline void storePairs(double* p, Vec first, Vec second)
{
    store(p, __builtin_shufflevector(first, second, 0, 4, 1, 5));
    store(p + 4, __builtin_shufflevector(first, second, 2, 6, 3, 7));
}

// Where the complex stages read and write: split arrays, or (for the input of a forward
// transform and the output of an inverse one) the caller's interleaved reals.
struct SplitArray
{
    double* re;
    double* im;
    Cx get(int i) const { return {load(re + i), load(im + i)}; }
    void put(int i, Cx v) const
    {
        store(re + i, v.re);
        store(im + i, v.im);
    }
};

struct InterleavedInput
{
    const double* x; // z[m] = x[2m] + i x[2m+1]
    Cx get(int i) const { return loadPairs(x + 2 * i); }
};

struct SwappedInterleavedOutput
{
    double* y; // y[2m] = Im z[m], y[2m+1] = Re z[m]: undoes the swap that makes the inverse
    void put(int i, Cx v) const { storePairs(y + 2 * i, v.im, v.re); }
};

// First radix-4 pass over all M points (stride 1). Vectorised across four butterflies; their
// outputs land four apart, so a transpose turns them into contiguous stores.
template <typename Source>
void firstPass(Source in, SplitArray out, int points, const double* twiddles)
{
    const int quarter = points / 4;
    for (int p = 0; p < quarter; p += 4)
    {
        const Cx a = in.get(p), b = in.get(p + quarter), c = in.get(p + 2 * quarter),
                 d = in.get(p + 3 * quarter);
        const double* w = twiddles + 6 * p;
        const Cx w1 = {load(w), load(w + 4)}, w2 = {load(w + 8), load(w + 12)},
                 w3 = {load(w + 16), load(w + 20)};
        const Cx t0 = a + c, t1 = a - c, t2 = b + d, t3 = timesI(b - d);
        Cx y0 = t0 + t2, y1 = (t1 + t3) * w1, y2 = (t0 - t2) * w2, y3 = (t1 - t3) * w3;
        transpose(y0.re, y1.re, y2.re, y3.re);
        transpose(y0.im, y1.im, y2.im, y3.im);
        out.put(4 * p, y0);
        out.put(4 * p + 4, y1);
        out.put(4 * p + 8, y2);
        out.put(4 * p + 12, y3);
    }
}

// A radix-4 pass with stride >= 4 over sub-transforms of `span` points; twiddles are shared by
// all four lanes.
void middlePass(SplitArray in, SplitArray out, int span, int stride, const double* twiddles)
{
    const int quarter = span / 4;
    for (int p = 0; p < quarter; ++p)
    {
        const double* w = twiddles + 6 * p;
        const Cx w1 = {splat(w[0]), splat(w[1])}, w2 = {splat(w[2]), splat(w[3])},
                 w3 = {splat(w[4]), splat(w[5])};
        const int from = stride * p, to = stride * 4 * p, step = stride * quarter;
        for (int q = 0; q < stride; q += 4)
        {
            const Cx a = in.get(from + q), b = in.get(from + q + step),
                     c = in.get(from + q + 2 * step), d = in.get(from + q + 3 * step);
            const Cx t0 = a + c, t1 = a - c, t2 = b + d, t3 = timesI(b - d);
            out.put(to + q, t0 + t2);
            out.put(to + q + stride, (t1 + t3) * w1);
            out.put(to + q + 2 * stride, (t0 - t2) * w2);
            out.put(to + q + 3 * stride, (t1 - t3) * w3);
        }
    }
}

// Four-point transform with the + kernel, in place: (a, b, c, d) -> (y0, y1, y2, y3).
inline void transform4(Cx& a, Cx& b, Cx& c, Cx& d)
{
    const Cx t0 = a + c, t1 = a - c, t2 = b + d, t3 = timesI(b - d);
    a = t0 + t2;
    b = t1 + t3;
    c = t0 - t2;
    d = t1 - t3;
}

// The last pass has no twiddles: radix 8 over stride M/8 (a radix-2 step with the eighth roots
// of unity, then two four-point transforms), radix 4 over stride M/4, or radix 2 over M/2.
template <typename Sink> void lastPass(SplitArray in, Sink out, int points, int radix)
{
    if (radix == 8)
    {
        const Vec h = splat(0.70710678118654752440084436210485);
        const int s = points / 8;
        for (int q = 0; q < s; q += 4)
        {
            Cx a0 = in.get(q), a1 = in.get(q + s), a2 = in.get(q + 2 * s), a3 = in.get(q + 3 * s);
            Cx b0 = in.get(q + 4 * s), b1 = in.get(q + 5 * s), b2 = in.get(q + 6 * s),
               b3 = in.get(q + 7 * s);
            Cx d;
            d = a0 - b0;
            a0 = a0 + b0;
            b0 = d;
            d = a1 - b1;
            a1 = a1 + b1;
            b1 = {(d.re - d.im) * h, (d.re + d.im) * h};
            d = a2 - b2;
            a2 = a2 + b2;
            b2 = timesI(d);
            d = a3 - b3;
            a3 = a3 + b3;
            b3 = {-(d.re + d.im) * h, (d.re - d.im) * h};
            transform4(a0, a1, a2, a3);
            transform4(b0, b1, b2, b3);
            out.put(q, a0);
            out.put(q + s, b0);
            out.put(q + 2 * s, a1);
            out.put(q + 3 * s, b1);
            out.put(q + 4 * s, a2);
            out.put(q + 5 * s, b2);
            out.put(q + 6 * s, a3);
            out.put(q + 7 * s, b3);
        }
    }
    else if (radix == 4)
    {
        const int s = points / 4;
        for (int q = 0; q < s; q += 4)
        {
            const Cx a = in.get(q), b = in.get(q + s), c = in.get(q + 2 * s), d = in.get(q + 3 * s);
            const Cx t0 = a + c, t1 = a - c, t2 = b + d, t3 = timesI(b - d);
            out.put(q, t0 + t2);
            out.put(q + s, t1 + t3);
            out.put(q + 2 * s, t0 - t2);
            out.put(q + 3 * s, t1 - t3);
        }
    }
    else
    {
        const int s = points / 2;
        for (int q = 0; q < s; q += 4)
        {
            const Cx a = in.get(q), b = in.get(q + s);
            out.put(q, a + b);
            out.put(q + s, a - b);
        }
    }
}

// Runs all passes; `buffers[i]` receives pass i (pass 0 reads `in`), the last pass writes `out`.
template <typename Source, typename Sink>
void complexPasses(const FftPlan& plan, Source in, SplitArray* buffers, Sink out)
{
    const int points = plan.length / 2;
    const int passes = plan.indexTable[2];
    const int lastRadix = plan.indexTable[2 + passes];
    firstPass(in, buffers[0], points, plan.trigTable + plan.indexTable[3]);
    int span = points / 4, stride = 4;
    for (int i = 1; i < passes - 1; ++i)
    {
        middlePass(buffers[i - 1], buffers[i], span, stride,
                   plan.trigTable + plan.indexTable[3 + i]);
        span /= 4;
        stride *= 4;
    }
    lastPass(buffers[passes - 2], out, points, lastRadix);
}

// Alternate between `work` and the caller's output array so the chain ends where it must.
inline SplitArray splitAt(double* base, int points)
{
    return {base, base + points};
}

// Real-time: allocates nothing, no lock, no I/O.
void forwardVector(const FftPlan& plan)
{
    const int n = plan.length, points = n / 2;
    const int passes = plan.indexTable[2];
    // The output array has two doubles to spare: enough to start the scratch arrays on a
    // 32-byte boundary when the caller's array sits on a 16-byte one.
    double* out = reinterpret_cast<double*>(plan.complexOutput);
    const int misalignment = static_cast<int>(reinterpret_cast<uintptr_t>(out) % 32) / 8;
    double* scratch = misalignment >= 2 ? out + (4 - misalignment) : out;
    SplitArray buffers[32];
    // The last pass writes `work`; earlier ones alternate backwards from there.
    for (int i = 0; i < passes; ++i)
        buffers[i] = splitAt((passes - 1 - i) % 2 == 0 ? plan.work : scratch, points);
    const SplitArray z = buffers[passes - 1];
    complexPasses(plan, InterleavedInput{plan.realInput}, buffers, z);

    // Split step: spectra of the even and odd samples from the one complex transform, then
    // X[k] = E + w O and X[M-k] = conj(E - w O) for four k at a time.
    const double* halfCos = plan.trigTable + n / 4;
    const double* halfSinEnd = plan.trigTable + n / 2;
    const int half = points / 2;
    const double re0 = z.re[0], im0 = z.im[0], reMid = z.re[half], imMid = z.im[half];
    for (int k = 1;; k += 4)
    {
        if (k > half - 4)
            k = half - 4; // the last group overlaps the previous one; it writes the same values
        const int l = points - k - 3;
        const Vec ar = load(z.re + k), ai = load(z.im + k);
        const Vec br = reverse(load(z.re + l)), bi = reverse(load(z.im + l));
        const Vec c = load(halfCos + k), s = reverse(load(halfSinEnd - k - 3));
        const Vec er = (ar + br) * 0.5, ei = (ai - bi) * 0.5;
        const Vec oddRe = ai + bi, oddIm = br - ar;
        const Vec wr = mulSub(c, oddRe, s * oddIm), wi = mulAdd(c, oddIm, s * oddRe);
        storePairs(out + 2 * k, er + wr, ei + wi);
        storePairs(out + 2 * l, reverse(er - wr), reverse(wi - ei));
        if (k == half - 4) break;
    }
    out[0] = re0 + im0;
    out[1] = 0.0;
    out[2 * points] = re0 - im0;
    out[2 * points + 1] = 0.0;
    out[2 * half] = reMid;
    out[2 * half + 1] = imMid;
}

// Real-time: allocates nothing, no lock, no I/O.
void inverseVector(const FftPlan& plan)
{
    const int n = plan.length, points = n / 2;
    const int passes = plan.indexTable[2];
    double* scratch = plan.realOutput;
    SplitArray buffers[32];
    // The last pass writes the caller's output, so the one before it must write `work`.
    for (int i = 0; i < passes - 1; ++i)
        buffers[i] = splitAt((passes - 2 - i) % 2 == 0 ? plan.work : scratch, points);
    const SplitArray z = passes % 2 == 0 ? splitAt(scratch, points) : splitAt(plan.work, points);

    // Inverse split step: Z[k] = A + C, Z[M-k] = conj(A - C) with A = X[k] + conj X[M-k] and
    // C = i conj(w) (X[k] - conj X[M-k]); stored with real and imaginary parts swapped, which
    // turns the forward complex passes into the inverse ones.
    const double* in = reinterpret_cast<const double*>(plan.complexInput);
    const double* halfCos = plan.trigTable + n / 4;
    const double* halfSinEnd = plan.trigTable + n / 2;
    const int half = points / 2;
    for (int k = 1;; k += 4)
    {
        if (k > half - 4) k = half - 4;
        const int l = points - k - 3;
        const Cx x = loadPairs(in + 2 * k);
        const Cx yRaw = loadPairs(in + 2 * l);
        const Vec yr = reverse(yRaw.re), yi = reverse(yRaw.im);
        const Vec c = load(halfCos + k), s = reverse(load(halfSinEnd - k - 3));
        const Vec ar = x.re + yr, ai = x.im - yi;
        const Vec br = (x.re - yr) * 2.0, bi = (x.im + yi) * 2.0;
        const Vec cr = mulSub(s, br, c * bi), ci = mulAdd(c, br, s * bi);
        store(z.re + k, ai + ci);
        store(z.im + k, ar + cr);
        store(z.re + l, reverse(ci - ai));
        store(z.im + l, reverse(ar - cr));
        if (k == half - 4) break;
    }
    const double first = in[0], last = in[2 * points];
    z.re[0] = first - last;
    z.im[0] = first + last;
    z.re[half] = 2.0 * in[2 * half + 1];
    z.im[half] = 2.0 * in[2 * half];

    complexPasses(plan, z, buffers, SwappedInterleavedOutput{plan.realOutput});
}

} // namespace

#endif
