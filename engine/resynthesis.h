// Pitch-synchronous overlap-add of the frame grains into the output ring.
//
// Real-time: no allocation, no lock, no I/O.
#pragma once

#include "controlstate.h"

#include <cstdint>

// Continues the chain of synthesis pulses from nextPulseTime (seconds, advanced here) while the
// pulse's frame index is below frameLimit. Times are measured from an origin whose absolute sample
// index is originSample; t0 is the block's first sample on that time scale. Pulse samples are
// originSample + floor(t * rate), added into outputRing at their position modulo ringSize.
// Pulses before firstSample (absolute) write nothing: their cells were already read, and what
// was added there would stay until the ring comes round again. The chain goes on as before.
void overlapAddGrains(double& nextPulseTime, int frameLimit, const ControlState* frameControls,
                      const double* f0Track, const double* const* frameGrains, int N, int rate,
                      double* outputRing, int ringSize, double t0, int64_t originSample,
                      int64_t firstSample = INT64_MIN);

// The frames (below frameLimit) whose grains overlapAddGrains would read when called with the
// same arguments: used[j] = 1 for those, 0 for the others (frameLimit entries).
void markPulseFrames(double nextPulseTime, int frameLimit, const double* f0Track, int rate,
                     double t0, uint8_t* used);
