// Pitch marks and one two-period grain per analysis frame.
//
// Real-time: runs on the audio thread once per completed block; allocates scratch on entry and
// frees it before returning; no lock, no I/O.
#pragma once

// Writes entries 0..N/2-1 of frameGrains[0..T-1]: grain samples in 0..N/2-2, the half length in
// entry N/2-1 (0 = empty grain).
void extractFrameGrains(const double* x, int B, int rate, const double* frameTimes,
                        const double* f0Track, double* const* frameGrains, int N);
