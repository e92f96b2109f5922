// One analysis block's engine work, cut into steps that the audio path spreads over the host calls
// following the block's completion.
//
// What a block adds to the output ring is first read L samples after its first synthesis pulse,
// which lies at least 2048 samples after the block completes (less for the very first block,
// whose pulse chain starts at its first sample; above about 82 kHz its first grains fall due
// before it completes and are left out). The job therefore has until that due sample to
// finish; it spreads its steps evenly over the first half of that time, in proportion to the
// samples each host call covers, and the audio path finishes whatever is left before it reads
// the due sample. The job works on private copies of the block's input and frame controls, so the
// next block fills meanwhile. The steps compute exactly what running the whole engine at
// completion computed, in the same order.
//
// Everything is allocated by the constructor (on the dispatcher thread, for one geometry); start,
// advance and finish allocate nothing, take no lock and make no system call.
#pragma once

#include "controlstate.h"
#include "f0estimation.h"
#include "geometry.h"
#include "grains.h"

#include <cstdint>
#include <vector>

class DumpSlot;

class BlockJob
{
public:
    // ring: the effect's output ring (g.ringSize cells); dump: where each block's map goes.
    BlockJob(const AnalysisGeometry& g, double* ring, DumpSlot* dump);

    // Takes over the block that just completed: inputBlock is exchanged with the job's own buffer
    // and gets the block's last e samples back at its start; the frame controls are taken from
    // snapshots now. blockStart and completingSample: absolute indices of the block's first and
    // last sample. A job still pending is finished first.
    void start(std::vector<double>& inputBlock, const ControlState* snapshots, int64_t blockStart,
               int64_t completingSample);

    bool pending() const { return step < stepCount; }
    // Steps of the current (or last) block done so far, of stepsPerBlock().
    int stepsDone() const { return step; }
    int stepsPerBlock() const;
    // Steps run since construction, all blocks together.
    int64_t stepsRun() const { return totalSteps; }
    // Absolute host sample whose output is the first to read a cell this block writes.
    int64_t dueSample() const { return due; }
    // Runs the steps due once the host has processed samples up to (not including) reached.
    void advance(int64_t reached);
    void finish();

    // The control snapshot index frame j reads (frames 0 .. m - 1).
    int frameSample(int j) const;

private:
    void runStep(int s);

    const AnalysisGeometry g;
    double* const ring;
    DumpSlot* const dump;
    F0Workspace f0Work;
    GrainWorkspace grainWork;
    std::vector<double> input;
    const double* nextBlock = nullptr; // the effect's block being filled
    std::vector<double> frameTimes;
    std::vector<double> f0Track;      // smoothed, as measured
    std::vector<double> targetF0;     // with the pitch offset and scale snapping
    std::vector<uint8_t> pulseFrames; // frames the overlap-add reads
    std::vector<double> smoothScratch;
    std::vector<ControlState> frameControls;
    std::vector<double> grainStorage; // m grains of N/2 + 1 values
    std::vector<double*> frameGrains;
    std::vector<int> stepWeight; // relative cost of each step
    int totalWeight = 0;

    // The pulse chain: seconds from the start of the block being filled (outside a job) or of
    // the job's block (inside).
    double nextPulseTime = 0.0;
    int64_t origin = 0;    // absolute index of the job's first sample
    int64_t completed = 0; // absolute index of its last sample
    int64_t due = 0;
    int64_t spreadEnd = 0; // the steps are spread over (completed, spreadEnd]
    int step = 0;
    int stepCount = 0;
    int doneWeight = 0;
    int64_t totalSteps = 0;
};
