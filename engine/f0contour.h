// Selection and repair of a block's f0 contour from the per-band candidate map.
//
// selectF0Contour allocates its contours per call and rewrites the dump file f0map.txt (see
// f0map.h); traceF0Contour, which the effect's audio path uses, allocates nothing, takes no lock
// and does no I/O.
#pragma once

// The contours of one selection, m doubles each, named as in the dump.
struct F0ContourTrace
{
    double* best;  // most stable candidate per frame, 0 where poor for this block
    double* base;  // best without the 6 frames at each end
    double* step1; // base without abrupt jumps
    double* step2; // step1 without frames near an unvoiced one
    double* step3; // step2 with each voiced section grown forward
    double* step4; // step3 with each voiced section grown backward: the result
};

// Frames of a block of n samples at fs Hz: 1 + trunc(n / fs * 500), or 0 when that is not
// defined or too large. No allocation, no lock, no I/O.
int f0FrameCount(int n, int fs);

// bands rows of m = 1 + trunc(500 n / fs) candidates (Hz, 0 = none) and stabilities (deviation /
// f0, smaller is steadier, 1e13 = none). Writes the BEST contour into best and the result (Hz,
// 0 = unvoiced, frame 0 always 0) into f0, then rewrites f0map.txt.
// Allocates its contours per call and frees them before returning; no lock; file I/O.
void selectF0Contour(int bands, int n, int fs, const double* const* f0Map,
                     const double* const* stabilityMap, double* best, double* f0);

// Every step of the selection for m frames, without the dump.
// No allocation, no lock, no I/O.
void traceF0Contour(int bands, int m, const double* const* f0Map, const double* const* stabilityMap,
                    const F0ContourTrace& trace);
