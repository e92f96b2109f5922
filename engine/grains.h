// Pitch marks and one two-period grain per analysis frame.
//
// The one-call extractFrameGrains allocates its scratch per call. A real-time caller makes one
// GrainWorkspace per block geometry instead (allocating, off the audio thread) and runs the block
// through its stages, which allocate nothing, take no lock and do no I/O and give exactly the
// same grains.
#pragma once

#include <cstdint>
#include <memory>
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

// Scratch and window tables of extractFrameGrains for blocks of B samples at rate, grain buffers
// of N/2 + 1 doubles and frameCount frames. Throws std::bad_alloc when it cannot allocate.
// With wholeGrains false the stages write only what overlapAddGrains reads of a grain: its
// samples, the zero after them and its half length; entries further on keep older values.
class GrainWorkspace
{
public:
    GrainWorkspace(int B, int rate, int N, int frameCount, bool wholeGrains = false);

    // The stages of one block, in this order: prepare (segments, anchors, per-sample f0; empties
    // frame 0's grain); accumulatePhase; wrapPhase for pieces 0 .. pieces - 1; marks; cut over
    // frames [from, to) in ascending pieces
    // covering 1 .. frames() - 1. x, frameTimes and f0Track must stay unchanged until the last cut.
    void prepare(const double* x, const double* frameTimes, const double* f0Track,
                 double* const* frameGrains);
    void accumulatePhase();
    void wrapPhase(int piece, int pieces);
    void marks();
    // used, when given, names the frames whose grains will be read (see markPulseFrames); the
    // others are skipped.
    void cut(const double* x, const double* f0Track, double* const* frameGrains, int from, int to,
             const uint8_t* used = nullptr);
    int frames() const { return T; }

private:
    // The Hann window of grain length t, from a small table of recently used lengths: a voice
    // moves among a few dozen lengths, so the cosines are mostly computed once per length.
    const double* windowFor(int64_t t, int64_t stored);

    int B, rate, N, frameCount;
    bool wholeGrains;
    int T = 0;
    double P = 0.0;
    int segmentCount = 0;
    int markCount = 0;
    std::vector<GrainSegment> segments;
    std::vector<double> filled;
    std::vector<double> sampleTimes; // k / rate, fixed by the geometry
    std::vector<double> perSampleF0, phase, wrapped, rawMarks, markTimes;
    std::vector<double> peakScratch;
    std::vector<double> windows;                  // windowSlots rows of N/2 values
    std::vector<int64_t> windowLengths;           // grain length each row holds, -1 = none
    std::vector<uint8_t> windowOlder;             // per set of two rows: the one to replace next
    std::shared_ptr<const class HannTable> table; // every usual length, when the rate allows
};
