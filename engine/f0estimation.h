// Fundamental-frequency estimation of one analysis block.
//
// The block is low-passed and decimated to about 4 kHz, then analysed in seven overlapping bands
// (two per octave, edges 80 ... 640 Hz). In each band the spacing of falling and rising zero
// crossings, peaks and dips gives four f0 readings per frame; their mean is the band's candidate
// and their spread its stability. selectF0Contour (f0contour.h) turns the candidates into a track.
//
// The one-call functions allocate their working storage per call. A real-time caller makes one
// F0Workspace per block geometry instead (allocating, off the audio thread) and runs the block
// through the stage functions, which allocate nothing, take no lock and do no I/O; they compute
// exactly the same numbers as estimateF0.
#pragma once

#include "decimationdesign.h"
#include "f0contour.h"
#include "fft.h"

#include <vector>

// Bands of the candidate map, fixed whatever the rate: 1 + trunc(2 log2(10)).
constexpr int kF0BandCount = 7;

// x: the block, n samples; fs: analysis rate in Hz. Writes m = 1 + trunc(500 n / fs) frame times
// (seconds from the block start) into times and the f0 of each frame (Hz, 0 = unvoiced) into f0.
// Rates below 8 kHz (no decimation filter, see decimationLowPass) and blocks of fewer than 10
// samples give an unvoiced block. Nothing is written when fs <= 0 or n < 0.
// Allocates its working storage per call and frees it before returning; writes the dump file.
void estimateF0(const double* x, int n, int fs, double* times, double* f0);

// Transform length N of the band filtering for a block of n samples at fs Hz (0 when undefined).
// No allocation, no I/O.
int f0TransformLength(int n, int fs);

// The candidate map of one block: kF0BandCount rows of m frames each, row b at offset b * m, of
// candidates (Hz, 0 = none) and stabilities (deviation / candidate, 1e13 = none). times: the m
// frame times. Returns false, leaving an empty map, when the block cannot be analysed (fewer than
// 10 samples, or no decimation filter for the rate).
// Allocates its working storage per call and frees it before returning; no I/O.
bool buildF0Map(const double* x, int n, int fs, const double* times, int m, double* f0Cells,
                double* stabilityCells);

// The decimation factor trunc(fs / 4000).
// No allocation, no I/O.
int decimationFactor(int fs);

// True when decimationLowPass has coefficients for factor D: 2 to 96 (rates up to 384 kHz).
// No allocation, no I/O.
bool hasDecimationFilter(int D);

// Samples decimate writes for a block of n samples at factor D (0 when it cannot run).
// No allocation, no I/O.
int decimatedCount(int n, int D);

// Zero-phase low-pass of x (n >= 10 samples) and every D-th sample into y, which holds at least
// decimatedCount(n, D) doubles; the last one falls on x[n - 1]. Returns the count written, 0 when
// n < 10 or D has no filter. Allocates one scratch array of n + 18 doubles per call.
int decimate(const double* x, int n, int D, double* y);

// Third-order recursive low-pass with unity gain at 0 Hz for factor D, from a zero state; in and
// out may be the same array. Factors 2, 4, 6, 8, 11 and 12 use fixed rows, the others the same
// design (decimationdesign.h) computed at load. Copies in to out unchanged when D has no filter.
// No allocation, no I/O.
void decimationLowPass(const double* in, int length, int D, double* out);

// Four-term Nuttall window of L points sampled at (i + 1) / (L + 1): symmetric, no zero ends.
// No allocation, no I/O.
void nuttallWindow(int L, double* w);

// Candidate f0 (Hz, 0 = none) and deviation (Hz, 100000 = none) of every frame for the band with
// upper edge bandEdge. spectrum: the N/2 + 1 bins of the mean-free decimated signal (yLen samples,
// zero-padded to N). filterBuffer (N doubles) and filterSpectrum (N/2 + 1 bins) are the arrays of
// forwardPlan and inversePlan. times: m frame times in seconds.
// Allocates its event scratch per call; no I/O.
void bandCandidates(double bandEdge, double decimatedRate, int N, int yLen,
                    const FftComplex* spectrum, double* filterBuffer, FftComplex* filterSpectrum,
                    const FftPlan& forwardPlan, const FftPlan& inversePlan, const double* times,
                    int m, double* candidates, double* deviations);

// Falling zero crossings of s (length samples) at the given rate, and the intervals between
// consecutive ones: interval centres in seconds (positions counted from sample 1) and interval
// frequencies in Hz, count of them returned in count (-1 when there is no crossing). centres and
// frequencies hold at least length / 2 doubles. Samples that are 0 or not finite form no crossing.
// No allocation, no I/O.
void zeroCrossingIntervals(const double* s, int length, double rate, double* centres,
                           double* frequencies, int& count);

// Working storage, transform plans and per-geometry tables of the estimator for blocks of n
// samples at fs Hz, with frames frames (f0FrameCount(n, fs) when negative): the transforms of the
// seven band windows are made here, once. Throws std::bad_alloc when it cannot allocate.
class F0Workspace
{
public:
    F0Workspace(int n, int fs, int frames = -1);
    ~F0Workspace();
    F0Workspace(const F0Workspace&) = delete;
    F0Workspace& operator=(const F0Workspace&) = delete;

    // False when blocks of this length and rate cannot be analysed: they come out unvoiced.
    bool analysable() const { return analysable_; }
    int frameCount() const { return m; }
    // Map rows of the last block (kF0BandCount rows of m) and its contour trace.
    const double* const* f0Map() const { return f0Rows; }
    const double* const* stabilityMap() const { return stabilityRows; }
    const F0ContourTrace& trace() const { return trace_; }

    // Number of lowPassChunk steps per block: the two filter passes are cut into this many
    // pieces each so that no single step holds much of the block's work.
    static constexpr int kLowPassChunks = 4;

    // The stages of one block, in this order: loadBlock; lowPassChunk(0 .. 2 * kLowPassChunks - 1);
    // transformBlock; band(0 .. kF0BandCount - 1); select. None allocates, locks or does I/O.
    // x must stay unchanged until the last lowPassChunk; times (m frame times) until the last band.
    // next, when given, holds the first nextAvailable samples of the block that will follow (in
    // a stream of overlapping blocks they are already there): the backward low-pass runs that
    // block's forward pass over them alongside, and loading it from the same array later goes on
    // from there. They must not change until then.
    void loadBlock(const double* x, const double* next = nullptr, int nextAvailable = 0);
    void lowPassChunk(int chunk);
    void transformBlock();
    void band(int b, const double* times);
    // Writes the block's f0 (m values) and fills the trace.
    void select(double* f0);

private:
    void releasePlans();

    int n = 0, fs = 0, D = 0, N = 0, yLen = 0, m = 0, bins = 0;
    double rate = 0.0;
    bool analysable_ = false;
    const DecimationCoefficients* lowPass = nullptr;
    double filterState[3] = {};
    const double* source = nullptr;    // the block being analysed
    double head[9] = {}, tail[9] = {}; // its reflected ends
    std::vector<double> extended;      // the low-passed block with its ends
    int forwardStart = 0;              // where this block's forward pass begins
    struct Ahead                       // the next block's forward pass, run ahead
    {
        const double* source = nullptr;
        int limit = 0; // extended samples it may cover
        int done = 0;
        double state[3] = {};
        std::vector<double> extended;
    } ahead;
    std::vector<double> decimated;    // N values
    std::vector<FftComplex> spectrum; // N/2 + 1 bins
    std::vector<double> filterBuffer; // N values
    std::vector<FftComplex> filterSpectrum;
    std::vector<FftComplex> windowSpectra; // kF0BandCount rows of N/2 + 1 bins
    std::vector<double> bandSignal, centres, frequencies, kinds, deviations;
    std::vector<double> cells; // f0 rows, stability rows, then best and five contours
    const double* f0Rows[kF0BandCount] = {};
    const double* stabilityRows[kF0BandCount] = {};
    F0ContourTrace trace_{};
    FftPlan forward{}, filterForward{}, filterInverse{};
    int plansMade = 0;
};
