#include "pitchtracker.h"

#include <algorithm>
#include <cmath>

namespace
{
// Difference-function thresholds: a dip below kPick is taken as the period (the shortest such
// lag, so that multiples of the period are not); voicing starts below kVoicedOn and ends above
// kVoicedOff.
constexpr double kPick = 0.15;
constexpr double kVoicedOn = 0.25;
constexpr double kVoicedOff = 0.4;
// Below this mean power (-60 dBFS) nothing is voiced.
constexpr double kPowerFloor = 1e-6;
// A leap of more than about a third from the held period is taken only after it has been asked
// for this many analyses in a row, while the held period still fits.
constexpr int kLeapHops = 3;
} // namespace

PitchTracker::PitchTracker(int rate, int window_) : window(window_)
{
    minLag = std::max(2, static_cast<int>(std::floor(rate / 640.0)));
    maxLag = static_cast<int>(std::ceil(rate / 90.0)) + 1;
    fftLength = 1;
    while (fftLength < window + maxLag)
        fftLength *= 2;
    timeIn.assign(fftLength, 0.0);
    correlation.assign(fftLength, 0.0);
    cmnd.assign(maxLag + 2, 1.0);
    prefixEnergy.assign(window + maxLag + 1, 0.0);
    headSpectrum.resize(fftLength / 2 + 1);
    spanSpectrum.resize(fftLength / 2 + 1);
    product.resize(fftLength / 2 + 1);
    forward = planForwardReal(fftLength, timeIn.data(), spanSpectrum.data());
    try
    {
        inverse = planInverseReal(fftLength, product.data(), correlation.data());
    }
    catch (...)
    {
        destroyFftPlan(forward);
        throw;
    }
}

PitchTracker::~PitchTracker()
{
    destroyFftPlan(forward);
    destroyFftPlan(inverse);
}

void PitchTracker::reset()
{
    current = PitchEstimate();
    jumpHops = 0;
}

const PitchEstimate& PitchTracker::analyse(const double* x)
{
    transform(x);
    return conclude();
}

void PitchTracker::transform(const double* x)
{
    const int n = span();
    // d(lag) = sum over the window of (x[j] - x[j + lag])^2 = e(head) + e(shifted) - 2 r(lag),
    // the cross term by the FFT, the energies from running sums.
    prefixEnergy[0] = 0.0;
    for (int j = 0; j < n; ++j)
        prefixEnergy[j + 1] = prefixEnergy[j] + x[j] * x[j];

    std::copy(x, x + window, timeIn.begin());
    std::fill(timeIn.begin() + window, timeIn.end(), 0.0);
    executeFft(forward);
    std::copy(spanSpectrum.begin(), spanSpectrum.end(), headSpectrum.begin());
    std::copy(x, x + n, timeIn.begin());
    std::fill(timeIn.begin() + n, timeIn.end(), 0.0);
    executeFft(forward);
}

const PitchEstimate& PitchTracker::conclude()
{
    const double headEnergy = prefixEnergy[window];
    for (size_t k = 0; k < product.size(); ++k)
    {
        const FftComplex a = headSpectrum[k], b = spanSpectrum[k];
        product[k] = {a.re * b.re + a.im * b.im, a.re * b.im - a.im * b.re};
    }
    executeFft(inverse);

    const double scale = 1.0 / fftLength;
    double running = 0.0;
    cmnd[0] = 1.0;
    for (int lag = 1; lag <= maxLag; ++lag)
    {
        const double shifted = prefixEnergy[lag + window] - prefixEnergy[lag];
        const double d = std::max(0.0, headEnergy + shifted - 2.0 * correlation[lag] * scale);
        running += d;
        cmnd[lag] = running > 0.0 ? d * lag / running : 1.0;
    }

    const bool wasVoiced = current.voiced;
    const double held = current.period;
    int lag = bestLag(minLag, maxLag);
    if (wasVoiced && held > 0.0 && std::fabs(std::log2(lag / held)) > 0.4)
    {
        // A leap: keep the held period while it still fits, unless the leap persists.
        const int near = bestLag(std::max(minLag, static_cast<int>(held * 0.8)),
                                 std::min(maxLag - 1, static_cast<int>(held * 1.25) + 1));
        if (cmnd[near] < kVoicedOff && ++jumpHops < kLeapHops)
            lag = near;
        else
            jumpHops = 0;
    }
    else
        jumpHops = 0;

    const double value = cmnd[lag];
    const bool loudEnough = headEnergy > kPowerFloor * window;
    current.voiced = loudEnough && value < (wasVoiced ? kVoicedOff : kVoicedOn);
    current.aperiodicity = value;
    current.level = std::sqrt(headEnergy / window);
    if (current.voiced) current.period = refine(lag);
    return current;
}

// The shortest lag in [from, to] whose dip falls below the pick threshold, walked down to the
// bottom of that dip; else the deepest lag.
int PitchTracker::bestLag(int from, int to) const
{
    int deepest = from;
    for (int lag = from; lag <= to; ++lag)
    {
        if (cmnd[lag] < kPick)
        {
            while (lag + 1 <= to && cmnd[lag + 1] < cmnd[lag])
                ++lag;
            return lag;
        }
        if (cmnd[lag] < cmnd[deepest]) deepest = lag;
    }
    return deepest;
}

// The dip's bottom between samples, from a parabola through it and its neighbours.
double PitchTracker::refine(int lag) const
{
    if (lag <= 1 || lag >= maxLag) return lag;
    const double a = cmnd[lag - 1], b = cmnd[lag], c = cmnd[lag + 1];
    const double denominator = a - 2.0 * b + c;
    if (!(denominator > 0.0)) return lag;
    return lag + std::clamp(0.5 * (a - c) / denominator, -0.5, 0.5);
}
