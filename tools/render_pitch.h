// The renderer's pitch track: aubio's yinfast (YIN computed through FFTs) on 10 ms hops, the same
// on the input and the output. It feeds the pitch plot and the key finder.
#pragma once

#include <cstddef>
#include <vector>

namespace render
{

struct PitchTrackerSettings
{
    double minF0 = 60.0;   // Hz
    double maxF0 = 1000.0; // Hz
    double hopSeconds = 0.01;
    double windowSeconds = 0.04; // at least; rounded up to a power of two in samples
    double tolerance = 0.15;     // largest normalised difference aubio takes as a period
    double minConfidence = 0.8;  // frames aubio is less sure of are unvoiced
    double silenceDb = -45.0;    // frames this far below the loudest frame are unvoiced
    int medianFrames = 5;        // odd; removes single-frame octave slips, 1 keeps raw estimates
};

struct PitchTrack
{
    std::vector<double> times; // seconds, frame centres
    std::vector<double> f0;    // Hz, 0 = unvoiced or silent
    std::vector<double> level; // RMS of the frame's window
};

// Throws std::runtime_error when aubio cannot be set up for the rate.
PitchTrack trackPitch(const std::vector<float>& signal, double rate,
                      const PitchTrackerSettings& settings = {});

} // namespace render
