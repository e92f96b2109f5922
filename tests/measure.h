// Measurements that judge the effect's output independently of its own analysis: f0 by
// normalised autocorrelation, and the frequency scale between two spectral envelopes.
// Plus synthetic vowels with set formants and dumps of what a failing test saw.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace measure
{

constexpr double kPi = 3.14159265358979323846;

inline double cents(double f, double reference)
{
    return 1200.0 * std::log2(f / reference);
}

// Normalised autocorrelation of x[from, to) at lags minLag..maxLag (index = lag - minLag).
inline std::vector<double> normalisedAutocorrelation(const std::vector<float>& x, size_t from,
                                                     size_t to, int minLag, int maxLag)
{
    const size_t window = to - from - static_cast<size_t>(maxLag);
    std::vector<double> r(maxLag - minLag + 1, 0.0);
    double energyHead = 0.0;
    for (size_t n = 0; n < window; ++n)
        energyHead += static_cast<double>(x[from + n]) * x[from + n];
    for (int lag = minLag; lag <= maxLag; ++lag)
    {
        double cross = 0.0, energyLag = 0.0;
        for (size_t n = 0; n < window; ++n)
        {
            const double a = x[from + n], b = x[from + n + lag];
            cross += a * b;
            energyLag += b * b;
        }
        const double norm = std::sqrt(energyHead * energyLag);
        r[lag - minLag] = norm > 0.0 ? cross / norm : 0.0;
    }
    return r;
}

// f0 (Hz) of x[from, to): the shortest lag whose autocorrelation peak reaches 0.85 of the
// highest one (so that multiples of the period are not taken), refined by a parabola through
// the peak and its neighbours. 0 when no peak is found.
inline double f0ByAutocorrelation(const std::vector<float>& x, size_t from, size_t to, double rate,
                                  double minHz = 50.0, double maxHz = 1500.0)
{
    const int minLag = static_cast<int>(rate / maxHz);
    const int maxLag = static_cast<int>(rate / minHz) + 1;
    if (to <= from + 2 * static_cast<size_t>(maxLag)) return 0.0;
    const auto r = normalisedAutocorrelation(x, from, to, minLag, maxLag);
    double best = 0.0;
    for (size_t i = 1; i + 1 < r.size(); ++i)
        best = std::max(best, r[i]);
    for (size_t i = 1; i + 1 < r.size(); ++i)
        if (r[i] > r[i - 1] && r[i] >= r[i + 1] && r[i] >= 0.85 * best)
        {
            const double curvature = r[i - 1] - 2.0 * r[i] + r[i + 1];
            const double shift = curvature < 0.0 ? 0.5 * (r[i - 1] - r[i + 1]) / curvature : 0.0;
            return rate / (minLag + static_cast<double>(i) + shift);
        }
    return 0.0;
}

// In-place radix-2 complex FFT (size a power of two); inverse without the 1/n factor.
inline void fft(std::vector<std::complex<double>>& a, bool inverse)
{
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i)
    {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1)
    {
        const double angle = (inverse ? 2.0 : -2.0) * kPi / static_cast<double>(len);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len)
        {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < len / 2; ++k)
            {
                const auto u = a[i + k];
                const auto v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
}

// Natural-log power spectrum (bins 0..size/2) averaged over Hann-windowed frames of x[from, to),
// then smoothed by keeping only quefrencies below liftSeconds.
inline std::vector<double> smoothedLogSpectrum(const std::vector<float>& x, size_t from, size_t to,
                                               double rate, int size, double liftSeconds)
{
    const size_t hop = static_cast<size_t>(size) / 4;
    std::vector<double> power(size / 2 + 1, 0.0);
    std::vector<std::complex<double>> buf(size);
    int frames = 0;
    for (size_t start = from; start + size <= to; start += hop, ++frames)
    {
        for (int i = 0; i < size; ++i)
            buf[i] = x[start + i] * (0.5 - 0.5 * std::cos(2.0 * kPi * i / size));
        fft(buf, false);
        for (int k = 0; k <= size / 2; ++k)
            power[k] += std::norm(buf[k]);
    }
    // A floor far below the harmonics keeps the logarithm finite between them.
    double peak = *std::max_element(power.begin(), power.end());
    for (int k = 0; k <= size / 2; ++k)
        buf[k] = std::log(power[k] + 1e-9 * peak);
    for (int k = size / 2 + 1; k < size; ++k)
        buf[k] = buf[size - k];
    fft(buf, true); // real cepstrum (times size)
    const int lift = static_cast<int>(liftSeconds * rate);
    for (int q = lift + 1; q < size - lift; ++q)
        buf[q] = 0.0;
    fft(buf, false);
    std::vector<double> out(size / 2 + 1);
    for (int k = 0; k <= size / 2; ++k)
        out[k] = buf[k].real() / size;
    return out;
}

inline double valueAt(const std::vector<double>& spectrum, double bin)
{
    const double b = std::clamp(bin, 0.0, static_cast<double>(spectrum.size() - 1));
    const size_t k = std::min(static_cast<size_t>(b), spectrum.size() - 2);
    return spectrum[k] + (spectrum[k + 1] - spectrum[k]) * (b - k);
}

// The factor a for which out(f) best matches in(f / a) + c over loHz..hiHz (least squares with
// the level offset c removed): a > 1 means the output's envelope lies higher in frequency.
inline double envelopeScale(const std::vector<double>& in, const std::vector<double>& out,
                            double rate, int size, double loHz = 250.0, double hiHz = 4000.0,
                            double minScale = 0.6, double maxScale = 1.8)
{
    const double binHz = rate / size;
    const int lo = static_cast<int>(std::ceil(loHz / binHz));
    const int hi = static_cast<int>(std::floor(hiHz / binHz));
    double bestScale = 1.0, bestError = 1e300;
    for (double a = minScale; a <= maxScale; a += 0.001)
    {
        double sum = 0.0, sumSq = 0.0;
        for (int k = lo; k <= hi; ++k)
        {
            const double d = out[k] - valueAt(in, k / a);
            sum += d;
            sumSq += d * d;
        }
        const int n = hi - lo + 1;
        const double error = sumSq - sum * sum / n;
        if (error < bestError)
        {
            bestError = error;
            bestScale = a;
        }
    }
    return bestScale;
}

// Magnitude of a cascade of resonances (formant f, bandwidth b) at frequency f, peak-normalised.
struct Formant
{
    double frequency, bandwidth;
};

inline double formantGain(const std::vector<Formant>& formants, double f)
{
    double g = 1.0;
    for (const auto& fm : formants)
    {
        const double f2 = fm.frequency * fm.frequency;
        g *= f2 / std::sqrt((f2 - f * f) * (f2 - f * f) + fm.bandwidth * fm.bandwidth * f * f);
    }
    return g;
}

// A vowel: harmonics of f0 up to 5 kHz shaped by the formants and a gentle source tilt, scaled
// to the given peak. With vibrato (depth as a fraction of f0) the harmonics sweep across the
// envelope, so that an average spectrum shows the envelope between them too.
inline std::vector<float> vowel(double f0, const std::vector<Formant>& formants, double rate,
                                size_t length, double vibratoDepth = 0.0, double vibratoHz = 5.5,
                                double peak = 0.4)
{
    std::vector<double> v(length, 0.0);
    double phase = 0.0;
    for (size_t k = 0; k < length; ++k)
    {
        const double f = f0 * (1.0 + vibratoDepth * std::sin(2.0 * kPi * vibratoHz * k / rate));
        phase += 2.0 * kPi * f / rate;
        const int harmonics = static_cast<int>(std::min(5000.0, 0.45 * rate) / f);
        double sum = 0.0;
        for (int h = 1; h <= harmonics; ++h)
            sum += formantGain(formants, h * f) / std::sqrt(static_cast<double>(h)) *
                   std::sin(h * phase + 0.7 * h * h); // spread phases keep the crest modest
        v[k] = sum;
    }
    double m = 0.0;
    for (double s : v)
        m = std::max(m, std::fabs(s));
    std::vector<float> out(length);
    for (size_t k = 0; k < length; ++k)
        out[k] = static_cast<float>(peak * v[k] / m);
    return out;
}

// 32-bit float mono WAV.
inline void writeWav(const std::string& path, const std::vector<float>& samples, int rate)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    auto u32 = [f](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [f](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    const uint32_t bytes = static_cast<uint32_t>(samples.size() * 4);
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(3); // IEEE float
    u16(1);
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate) * 4);
    u16(4);
    u16(32);
    std::fwrite("data", 1, 4, f);
    u32(bytes);
    std::fwrite(samples.data(), 4, samples.size(), f);
    std::fclose(f);
}

inline void writeCsv(const std::string& path, const std::vector<std::vector<double>>& columns,
                     const std::string& header)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%s\n", header.c_str());
    size_t rows = 0;
    for (const auto& c : columns)
        rows = std::max(rows, c.size());
    for (size_t r = 0; r < rows; ++r)
        for (size_t c = 0; c < columns.size(); ++c)
            std::fprintf(f, c + 1 < columns.size() ? "%.9g," : "%.9g\n",
                         r < columns[c].size() ? columns[c][r] : 0.0);
    std::fclose(f);
}

} // namespace measure
