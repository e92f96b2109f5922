// Pitch marks and one two-period grain per analysis frame.
//
// Real-time: runs on the audio thread once per completed block; allocates scratch on entry and
// frees it before returning; no lock, no I/O.
#pragma once

#include <cstdint>
#include <vector>

// Writes entries 0..N/2-1 of frameGrains[0..T-1]: grain samples in 0..N/2-2, the half length in
// entry N/2-1 (0 = empty grain).
void extractFrameGrains(const double* x, int B, int rate, const double* frameTimes,
                        const double* f0Track, double* const* frameGrains, int N);

// A maximal run of frames that are all voiced or all unvoiced, with its anchor samples.
struct GrainSegment
{
    int st = 0;      // first frame
    int ed = 0;      // last frame
    int a0 = 0;      // first anchor, sample index in the block
    int a1 = -1;     // second anchor, or -1 when the segment has only one
    int period1 = 0; // period in samples at the second anchor's frame (0 without one)
};

// The steps of extractFrameGrains, callable on their own. None of them locks or does I/O.

// Splits frames 0..T-1 into segments; segments holds T entries. Returns the segment count.
// No allocation.
int splitFrameSegments(const double* f0Track, int T, GrainSegment* segments);

// Places one or two anchors per segment on the largest three-sample sum of x within two periods
// around the anchor frame. P: frame period in ms. Allocates its peak-search scratch per call.
void findSegmentAnchors(const double* x, int B, int rate, double P, const double* f0Track,
                        GrainSegment* segments, int segmentCount);

// Marks (seconds from the block start) where the phase relative to each segment's first anchor
// wraps, stretched so that a mark lands on the second anchor. phase: B samples, radians.
// marks holds B entries. Returns the number of marks. Allocates its scratch per call.
int placePitchMarks(const double* phase, int B, int rate, double P, const GrainSegment* segments,
                    int segmentCount, double* marks);

// The Hann window of the last grain length cut; frames of a steady stretch share one length, so
// the window is computed once per stretch instead of once per frame.
struct GrainWindowCache
{
    std::vector<double> values; // N/2 doubles, sized by the caller
    int64_t length = -1;        // grain length the values belong to; -1 = none yet
};

// Cuts the Hann-weighted two-period grain of the frame at time tau (seconds) with f0 f (Hz),
// centred on the mark nearest tau, into grain[0..N/2-1] with the half length in grain[N/2-1];
// all zeros when the grain would reach the block's last sample. Allocates only when no window
// cache is given.
void cutGrain(const double* x, int B, int rate, const double* marks, int markCount, double tau,
              double f, double* grain, int N, GrainWindowCache* window = nullptr);
