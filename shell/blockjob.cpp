#include "blockjob.h"

#include "dumpwriter.h"
#include "f0postprocess.h"
#include "resynthesis.h"

#include <algorithm>
#include <cmath>

namespace
{
// Grain cutting is split into this many pieces of frames.
constexpr int kCutPieces = 8;

// The step sequence of one block.
constexpr int kLoad = 0;
constexpr int kLowPass = kLoad + 1;
constexpr int kTransform = kLowPass + 2 * F0Workspace::kLowPassChunks;
constexpr int kBands = kTransform + 1;
constexpr int kSelect = kBands + kF0BandCount;
constexpr int kPrepareGrains = kSelect + 1;
constexpr int kPhase = kPrepareGrains + 1;
// The wrapped phase over the block in pieces of samples, then the marks from it.
constexpr int kWrapPieces = 3;
constexpr int kWrap = kPhase + 1;
constexpr int kMarks = kWrap + kWrapPieces;
// The targets come before the grains: only the frames the pulse chain will fall in are cut.
constexpr int kTargets = kMarks + 1;
constexpr int kCut = kTargets + 1;
// Overlap-add in pieces of pulses, each piece ending at a frame limit: the chain goes on from
// where the previous piece stopped exactly as one call over all frames would.
constexpr int kSynthesisPieces = 3;
constexpr int kSynthesis = kCut + kCutPieces;
constexpr int kStepCount = kSynthesis + kSynthesisPieces;

static_assert(kF0BandCount == 7, "the dump slot holds rows of bands 1 to 6");
} // namespace

BlockJob::BlockJob(const AnalysisGeometry& geometry, double* ring_, DumpSlot* dump_)
    : g(geometry), ring(ring_), dump(dump_), f0Work(g.blockLength, g.rate),
      grainWork(g.blockLength, g.rate, g.frameLength, g.frameCount), input(g.blockLength, 0.0),
      frameTimes(g.frameCount), f0Track(g.frameCount, 0.0), targetF0(g.frameCount, 0.0),
      pulseFrames(std::max(g.frameCount, g.frameLimit), 0), smoothScratch(g.frameCount, 0.0),
      frameControls(g.frameCount),
      grainStorage(static_cast<size_t>(g.frameCount) * (g.frameLength / 2 + 1), 0.0),
      frameGrains(g.frameCount), stepWeight(kStepCount, 1)
{
    for (int j = 0; j < g.frameCount; ++j)
    {
        frameTimes[j] = (j * 2.0) * 0.001;
        frameGrains[j] = grainStorage.data() + static_cast<size_t>(j) * (g.frameLength / 2 + 1);
    }
    // Costs in microseconds measured at 44.1 kHz: the spread follows the work, not the step count.
    stepWeight[kLoad] = 1;
    for (int c = 0; c < 2 * F0Workspace::kLowPassChunks; ++c)
        stepWeight[kLowPass + c] = 8;
    stepWeight[kTransform] = 3;
    for (int b = 0; b < kF0BandCount; ++b)
        stepWeight[kBands + b] = 7;
    stepWeight[kSelect] = 3;
    stepWeight[kPrepareGrains] = 9;
    stepWeight[kPhase] = 10;
    for (int c = 0; c < kWrapPieces; ++c)
        stepWeight[kWrap + c] = 4;
    stepWeight[kMarks] = 4;
    stepWeight[kTargets] = 4;
    for (int c = 0; c < kCutPieces; ++c)
        stepWeight[kCut + c] = 1;
    for (int c = 0; c < kSynthesisPieces; ++c)
        stepWeight[kSynthesis + c] = 6;
    for (int w : stepWeight)
        totalWeight += w;
}

int BlockJob::stepsPerBlock() const
{
    return kStepCount;
}

int BlockJob::frameSample(int j) const
{
    const int k = static_cast<int>(g.rate * frameTimes[j]);
    return std::min(std::max(k, 0), g.blockLength - 1);
}

void BlockJob::start(std::vector<double>& inputBlock, const ControlState* snapshots,
                     int64_t blockStart, int64_t completingSample)
{
    finish();
    const int B = g.blockLength;
    const int e = g.blockOverlap;
    input.swap(inputBlock);
    std::copy(input.begin() + (B - e), input.end(), inputBlock.begin());
    // The next block starts with these samples, and they stay as they are until it completes.
    nextBlock = inputBlock.data();
    for (int j = 0; j < g.frameCount; ++j)
        frameControls[j] = snapshots[frameSample(j)];

    origin = blockStart;
    completed = completingSample;
    // The first pulse this block synthesises; its cell is read L samples later.
    const double first = nextPulseTime >= 0.0 ? nextPulseTime : 0.0;
    const double firstSample = std::floor(first * g.rate);
    due = origin + g.latency + (firstSample < 1e15 ? static_cast<int64_t>(firstSample) : 0);
    spreadEnd = completed + std::max<int64_t>(1, (due - completed) / 2);
    step = 0;
    stepCount = kStepCount;
    doneWeight = 0;
}

void BlockJob::advance(int64_t reached)
{
    const int64_t elapsed = reached - 1 - completed;
    const int64_t span = spreadEnd - completed;
    // A step runs when at least half of it falls within the share due so far, so that a call
    // overshoots its share by at most half a step.
    while (pending() &&
           (elapsed >= span || (2 * static_cast<int64_t>(doneWeight) + stepWeight[step]) * span <=
                                   2 * static_cast<int64_t>(totalWeight) * elapsed))
    {
        runStep(step);
        doneWeight += stepWeight[step];
        ++step;
    }
}

void BlockJob::finish()
{
    while (pending())
        runStep(step++);
}

void BlockJob::runStep(int s)
{
    ++totalSteps;
    const int B = g.blockLength;
    const int m = g.frameCount;
    if (s == kLoad)
        f0Work.loadBlock(input.data(), nextBlock, g.blockOverlap);
    else if (s < kTransform)
        f0Work.lowPassChunk(s - kLowPass);
    else if (s == kTransform)
        f0Work.transformBlock();
    else if (s < kSelect)
        f0Work.band(s - kBands, frameTimes.data());
    else if (s == kSelect)
    {
        f0Work.select(f0Track.data());
        dump->publish(f0Work.f0Map(), f0Work.stabilityMap(), f0Work.trace());
        smoothF0Track(f0Track.data(), m, smoothScratch.data());
    }
    else if (s == kPrepareGrains)
        grainWork.prepare(input.data(), frameTimes.data(), f0Track.data(), frameGrains.data());
    else if (s == kPhase)
        grainWork.accumulatePhase();
    else if (s < kMarks)
        grainWork.wrapPhase(s - kWrap, kWrapPieces);
    else if (s == kMarks)
        grainWork.marks();
    else if (s == kTargets)
    {
        float cents = 0.0f;
        float q = 1.0f;
        for (int j = 0; j < m; ++j)
        {
            targetF0[j] = f0Track[j];
            // Unvoiced frames stay 0 even when an extreme offset overflows q to infinity.
            if (f0Track[j] == 0.0) continue;
            // Frames mostly share the pitch control: its power is computed once per value.
            if (frameControls[j].pitchCents != cents)
            {
                cents = frameControls[j].pitchCents;
                q = std::pow(2.0f, cents * (1.0f / 1200.0f));
            }
            targetF0[j] *= static_cast<double>(q);
        }
        for (int j = 0; j < m; ++j)
            if (frameControls[j].scaleOn != 0 && targetF0[j] != 0.0)
                targetF0[j] = snapToScale(frameControls[j], targetF0[j]);
        markPulseFrames(nextPulseTime, g.frameLimit, targetF0.data(), g.rate, 0.0,
                        pulseFrames.data());
    }
    else if (s < kSynthesis)
    {
        const int piece = s - kCut;
        grainWork.cut(input.data(), f0Track.data(), frameGrains.data(),
                      1 + piece * (m - 1) / kCutPieces, 1 + (piece + 1) * (m - 1) / kCutPieces,
                      pulseFrames.data());
    }
    else
    {
        const int piece = s - kSynthesis + 1;
        const int limit =
            piece == kSynthesisPieces ? g.frameLimit : g.frameLimit * piece / kSynthesisPieces;
        overlapAddGrains(nextPulseTime, limit, frameControls.data(), targetF0.data(),
                         frameGrains.data(), g.frameLength, g.rate, ring, g.ringSize, 0.0, origin,
                         completed - g.latency);
        // The chain is kept relative to the block being filled, so its arithmetic is the same
        // however long the effect has been running.
        if (piece == kSynthesisPieces)
            nextPulseTime -= static_cast<double>(B - g.blockOverlap) / g.rate;
    }
}
