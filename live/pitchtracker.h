// A short-window pitch tracker for one voice: the cumulative mean normalised difference function
// (YIN) over the latest stretch of input, computed with the real FFT, with a voiced/unvoiced
// decision and a guard against octave slips.
//
// Real-time: the constructor allocates (std::bad_alloc); analyse() allocates nothing, takes no
// lock and makes no system call.
#pragma once

#include "fft.h"

#include <vector>

struct PitchEstimate
{
    bool voiced = false;
    double period = 0.0;     // samples; the last voiced period while unvoiced (0 before any)
    double aperiodicity = 1; // the difference function's value at the period: 0 = periodic
    double level = 0.0;      // RMS of the leading window
};

class PitchTracker
{
public:
    // Periods of voices from 90 to 640 Hz at rate; window: the difference function's span in
    // samples (its integration length).
    PitchTracker(int rate, int window);
    ~PitchTracker();
    PitchTracker(const PitchTracker&) = delete;
    PitchTracker& operator=(const PitchTracker&) = delete;

    // Samples one analysis reads: window + the longest period.
    int span() const { return window + maxLag; }
    int minPeriod() const { return minLag; }
    int maxPeriod() const { return maxLag; }

    // Analyses x[0, span()) and updates the estimate; the period describes x[0, window) mostly.
    const PitchEstimate& analyse(const double* x);
    // The same in two halves of about equal cost, so that a caller can spread them over two
    // stretches of its time: transform() takes x, conclude() updates the estimate.
    void transform(const double* x);
    const PitchEstimate& conclude();
    const PitchEstimate& estimate() const { return current; }
    void reset();

private:
    int bestLag(int from, int to) const;
    double refine(int lag) const;

    int window, minLag, maxLag, fftLength;
    std::vector<double> timeIn, correlation, cmnd, prefixEnergy;
    std::vector<FftComplex> headSpectrum, spanSpectrum, product;
    FftPlan forward{}, inverse{};
    PitchEstimate current;
    int jumpHops = 0; // consecutive analyses that asked for a leap away from the held period
};
