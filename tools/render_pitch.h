// A small pitch tracker for the renderer's plots: the cumulative-mean-normalised difference
// function on 10 ms frames, measured the same way on the input and on the output.
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
    double threshold = 0.15;     // largest normalised difference that still counts as periodic
    double silenceDb = -45.0;    // frames this far below the loudest frame are unvoiced
    double analysisRate = 16000; // the signal is low-passed and decimated to about this rate
    int medianFrames = 5;        // odd; removes single-frame octave slips, 1 keeps raw estimates
};

struct PitchTrack
{
    std::vector<double> times; // seconds, frame centres
    std::vector<double> f0;    // Hz, 0 = unvoiced or silent
};

PitchTrack trackPitch(const std::vector<float>& signal, double rate,
                      const PitchTrackerSettings& settings = {});

} // namespace render
