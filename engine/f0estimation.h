// Fundamental-frequency estimation of one analysis block.
//
// Real-time: runs on the audio thread once per completed block; allocates its working storage on
// entry and frees it before returning; takes no lock; writes the diagnostic dump (see f0contour.h).
#pragma once

// x: the block, n samples; fs: analysis rate in Hz. Writes m = 1 + trunc(500 n / fs) frame times
// (seconds from the block start) into times and the f0 of each frame (Hz, 0 = unvoiced) into f0.
void estimateF0(const double* x, int n, int fs, double* times, double* f0);
