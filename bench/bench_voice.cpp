// Cost of the voice path: real-time factor through processReplacing, the share of each engine
// step in one block, and every host call at small and usual host block sizes.
#include "benchvoice.h"
#include "blockjob.h"
#include "dumpwriter.h"
#include "f0estimation.h"
#include "f0map.h"
#include "f0postprocess.h"
#include "geometry.h"
#include "grains.h"
#include "resynthesis.h"
#include "vexilvst.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

// Counts the heap allocations each thread makes through operator new (std::vector and friends use
// it), so the dump writer's own work is not charged to the audio thread. The replacement pairs
// malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
thread_local long allocationCount = 0;

void* operator new(std::size_t size)
{
    ++allocationCount;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace
{
constexpr int kRate = 44100;

VstIntPtr acceptingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::vector<float> voice(size_t length)
{
    return benchVoice(kRate, length);
}

void setControls(VexilVST& effect)
{
    effect.setParameter(0, 0.5f + 300.0f / 2400.0f); // pitch +3 semitones
    effect.setParameter(1, 0.5f - 200.0f / 2400.0f); // formant -2 semitones
    effect.setParameter(2, 1.0f);                    // scale on
}

// CPU time per second of 44.1 kHz voice through processReplacing in 512-sample host blocks; the
// real-time factor is the reported time per iteration in seconds.
void BM_VoiceRealTimeFactor(benchmark::State& state)
{
    const auto input = voice(kRate * 4);
    std::vector<float> output(input.size());
    VexilVST effect(acceptingHost);
    setControls(effect);
    size_t pos = 0;
    for (auto _ : state)
    {
        for (int done = 0; done < kRate; done += 512)
        {
            const int n = std::min(512, kRate - done);
            if (pos + n > input.size()) pos = 0;
            float* in[1] = {const_cast<float*>(input.data() + pos)};
            float* out[1] = {output.data() + pos};
            effect.processReplacing(in, out, n);
            pos += n;
        }
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations() * kRate);
}
BENCHMARK(BM_VoiceRealTimeFactor)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// One realistic analysis block with everything each engine step needs.
struct BlockFixture
{
    BlockFixture()
        : g(AnalysisGeometry::forRate(kRate)), x(g.blockLength), frameTimes(g.frameCount),
          f0(g.frameCount), smoothed(g.frameCount), scratch(g.frameCount), controls(g.frameCount),
          storage(static_cast<size_t>(g.frameCount) * (g.frameLength / 2 + 1)),
          grains(g.frameCount), ring(g.ringSize, 0.0)
    {
        const auto v = voice(g.blockLength + kRate / 2);
        for (int k = 0; k < g.blockLength; ++k)
            x[k] = v[kRate / 2 + k];
        for (int j = 0; j < g.frameCount; ++j)
            grains[j] = storage.data() + static_cast<size_t>(j) * (g.frameLength / 2 + 1);
        estimateF0(x.data(), g.blockLength, kRate, frameTimes.data(), f0.data());
        smoothed = f0;
        smoothF0Track(smoothed.data(), g.frameCount, scratch.data());
        extractFrameGrains(x.data(), g.blockLength, kRate, frameTimes.data(), smoothed.data(),
                           grains.data(), g.frameLength);
        for (auto& c : controls)
            c.formantCents = -200.0f;
    }

    AnalysisGeometry g;
    std::vector<double> x, frameTimes, f0, smoothed, scratch;
    std::vector<ControlState> controls;
    std::vector<double> storage;
    std::vector<double*> grains;
    std::vector<double> ring;
};

void BM_StepEstimateF0(benchmark::State& state)
{
    BlockFixture b;
    for (auto _ : state)
    {
        estimateF0(b.x.data(), b.g.blockLength, kRate, b.frameTimes.data(), b.f0.data());
        benchmark::DoNotOptimize(b.f0.data());
    }
}
BENCHMARK(BM_StepEstimateF0)->Unit(benchmark::kMicrosecond);

void BM_StepSmoothF0Track(benchmark::State& state)
{
    BlockFixture b;
    std::vector<double> track(b.f0.size());
    for (auto _ : state)
    {
        track = b.f0;
        smoothF0Track(track.data(), b.g.frameCount, b.scratch.data());
        benchmark::DoNotOptimize(track.data());
    }
}
BENCHMARK(BM_StepSmoothF0Track)->Unit(benchmark::kMicrosecond);

void BM_StepSnapToScale(benchmark::State& state)
{
    BlockFixture b;
    ControlState c;
    std::vector<double> track(b.smoothed.size());
    for (auto _ : state)
    {
        for (size_t j = 0; j < track.size(); ++j)
            track[j] = b.smoothed[j] != 0.0 ? snapToScale(c, b.smoothed[j] * 1.19) : 0.0;
        benchmark::DoNotOptimize(track.data());
    }
}
BENCHMARK(BM_StepSnapToScale)->Unit(benchmark::kMicrosecond);

void BM_StepExtractFrameGrains(benchmark::State& state)
{
    BlockFixture b;
    for (auto _ : state)
    {
        extractFrameGrains(b.x.data(), b.g.blockLength, kRate, b.frameTimes.data(),
                           b.smoothed.data(), b.grains.data(), b.g.frameLength);
        benchmark::DoNotOptimize(b.storage.data());
    }
}
BENCHMARK(BM_StepExtractFrameGrains)->Unit(benchmark::kMicrosecond);

void BM_StepOverlapAddGrains(benchmark::State& state)
{
    BlockFixture b;
    std::vector<double> target(b.smoothed.size());
    for (size_t j = 0; j < target.size(); ++j)
        target[j] = b.smoothed[j] * 1.19;
    const double blockStep = static_cast<double>(b.g.blockLength - b.g.blockOverlap) / kRate;
    double pulse = 0.0;
    int64_t origin = 0;
    for (auto _ : state)
    {
        // As in the running effect: the chain starts about 25 ms into the block.
        overlapAddGrains(pulse, b.g.frameLimit, b.controls.data(), target.data(), b.grains.data(),
                         b.g.frameLength, kRate, b.ring.data(), b.g.ringSize, 0.0, origin);
        pulse -= blockStep;
        origin += b.g.blockLength - b.g.blockOverlap;
        benchmark::DoNotOptimize(b.ring.data());
    }
}
BENCHMARK(BM_StepOverlapAddGrains)->Unit(benchmark::kMicrosecond);

// The effect's path through one block stage by stage, over workspaces made once (as the effect
// runs it, spread over host calls): microseconds per block for each group of steps, the dump's
// formatting and file replacement (the writer thread's work) included.
void BM_EffectPathSteps(benchmark::State& state)
{
    BlockFixture b;
    const AnalysisGeometry& g = b.g;
    const int m = g.frameCount;
    ::setenv("XDG_CACHE_HOME", "/tmp/halvern-bench-cache", 1);
    F0Workspace f0Work(g.blockLength, kRate);
    GrainWorkspace grainWork(g.blockLength, kRate, g.frameLength, g.frameCount);
    std::vector<double> track(m), target(m), scratch(m);
    std::vector<uint8_t> used(std::max(m, g.frameLimit));
    std::vector<ControlState> controls(m);
    for (auto& c : controls)
    {
        c.pitchCents = 300.0f;
        c.formantCents = -200.0f;
        c.scaleOn = 1;
    }
    std::string text;
    const std::string spare = f0MapSpareName(999);
    double pulse = 0.0;
    int64_t origin = 0;
    const double blockStep = static_cast<double>(g.blockLength - g.blockOverlap) / kRate;
    enum Group
    {
        lowPass,
        bands,
        contour,
        grainPrep,
        marks,
        targets,
        cuts,
        synthesis,
        format,
        write,
        groups
    };
    double total[groups] = {};
    const auto lap = [&](Group group, auto&& work)
    {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto stop = std::chrono::steady_clock::now();
        total[group] += std::chrono::duration<double, std::micro>(stop - start).count();
    };
    for (auto _ : state)
    {
        lap(lowPass,
            [&]
            {
                f0Work.loadBlock(b.x.data());
                for (int c = 0; c < 2 * F0Workspace::kLowPassChunks; ++c)
                    f0Work.lowPassChunk(c);
            });
        lap(bands,
            [&]
            {
                f0Work.transformBlock();
                for (int band = 0; band < kF0BandCount; ++band)
                    f0Work.band(band, b.frameTimes.data());
            });
        lap(contour,
            [&]
            {
                f0Work.select(track.data());
                smoothF0Track(track.data(), m, scratch.data());
            });
        lap(grainPrep,
            [&]
            {
                grainWork.prepare(b.x.data(), b.frameTimes.data(), track.data(), b.grains.data());
                grainWork.accumulatePhase();
            });
        lap(marks,
            [&]
            {
                grainWork.wrapPhase(0, 1);
                grainWork.marks();
            });
        lap(targets,
            [&]
            {
                for (int j = 0; j < m; ++j)
                {
                    target[j] = track[j] * 1.189207115002721;
                    if (target[j] != 0.0) target[j] = snapToScale(controls[j], target[j]);
                }
                markPulseFrames(pulse, g.frameLimit, target.data(), kRate, 0.0, used.data());
            });
        lap(cuts,
            [&] { grainWork.cut(b.x.data(), track.data(), b.grains.data(), 1, m, used.data()); });
        lap(synthesis,
            [&]
            {
                overlapAddGrains(pulse, g.frameLimit, controls.data(), target.data(),
                                 b.grains.data(), g.frameLength, kRate, b.ring.data(), g.ringSize,
                                 0.0, origin);
                pulse -= blockStep;
                origin += g.blockLength - g.blockOverlap;
            });
        lap(format,
            [&]
            {
                text.clear();
                formatF0Map(text, kF0BandCount, m, f0Work.f0Map(), f0Work.stabilityMap(),
                            f0Work.trace());
            });
        lap(write, [&] { exchangeF0MapFile(text, spare); });
        benchmark::DoNotOptimize(b.ring.data());
    }
    removeF0MapSpare(spare);
    const char* names[groups] = {"lowpass_us",     "bands_us",     "contour_us", "grain_prep_us",
                                 "marks_us",       "targets_us",   "cuts_us",    "synthesis_us",
                                 "dump_format_us", "dump_write_us"};
    for (int group = 0; group < groups; ++group)
        state.counters[names[group]] = total[group] / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EffectPathSteps)->Unit(benchmark::kMicrosecond);

// One block's whole engine work (every step of its job, the dump's hand-over included), as the
// call that completed a block used to run it.
double blockEngineMicroseconds()
{
    const AnalysisGeometry g = AnalysisGeometry::forRate(kRate);
    const auto v = voice(static_cast<size_t>(kRate) * 2);
    std::vector<double> block(g.blockLength);
    for (int k = 0; k < g.blockLength; ++k)
        block[k] = v[kRate / 2 + k];
    std::vector<double> ring(g.ringSize, 0.0);
    std::vector<ControlState> snapshots(g.blockLength);
    DumpSlot dump(g.frameCount);
    BlockJob job(g, ring.data(), &dump);
    std::vector<double> times;
    for (int run = 0; run < 40; ++run)
    {
        std::vector<double> input(block);
        const auto start = std::chrono::steady_clock::now();
        job.start(input, snapshots.data(), 0, g.blockLength - 1);
        job.finish();
        const auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Every host callback over a 60 s voice at one host block size, with one effect or with eight
// effects processed in step in the same callback (eight vocal tracks complete their blocks
// together). The run is repeated; the same callback does the same work every time, so the least
// of its times is its own cost and the rest is the machine (interrupts, other guests). Reported:
// median and worst callback (worst_us, the largest of those least times, and max_us, the largest
// seen at all), the worst as a fraction of the engine work of the blocks due in it (one block per
// effect), the worst of the callbacks that ran no engine step (idle_max_us: the machine's own
// interruptions), and the heap allocations made inside the callbacks per analysed block
// (counted by the operator new hook above, on the calling thread only).
void BM_CallTimesPerHostBlock(benchmark::State& state)
{
    const size_t hostBlock = static_cast<size_t>(state.range(0));
    const int instances = static_cast<int>(state.range(1));
    const auto input = voice(static_cast<size_t>(kRate) * 60);
    std::vector<float> output(input.size());
    const size_t calls = (input.size() + hostBlock - 1) / hostBlock;
    std::vector<double> least(calls, std::numeric_limits<double>::infinity());
    std::vector<double> all;
    all.reserve(calls * 3);
    long allocations = 0;
    int64_t blocks = 0;
    double idleWorst = 0.0;
    const double engine = blockEngineMicroseconds();
    for (auto _ : state)
    {
        std::vector<std::unique_ptr<VexilVST>> effects;
        for (int k = 0; k < instances; ++k)
        {
            effects.push_back(std::make_unique<VexilVST>(acceptingHost));
            setControls(*effects.back());
        }
        for (size_t call = 0; call < calls; ++call)
        {
            const size_t k = call * hostBlock;
            const int n = static_cast<int>(std::min(hostBlock, input.size() - k));
            float* in[1] = {const_cast<float*>(input.data() + k)};
            float* out[1] = {output.data() + k};
            const long allocationsBefore = allocationCount;
            const int64_t stepsBefore = effects.front()->getEngineStepsRun();
            const auto start = std::chrono::steady_clock::now();
            for (auto& effect : effects)
                effect->processReplacing(in, out, n);
            const auto stop = std::chrono::steady_clock::now();
            allocations += allocationCount - allocationsBefore;
            const double us = std::chrono::duration<double, std::micro>(stop - start).count();
            all.push_back(us);
            least[call] = std::min(least[call], us);
            if (effects.front()->getEngineStepsRun() == stepsBefore)
                idleWorst = std::max(idleWorst, us);
        }
        blocks += effects.front()->getBlocksProcessed();
        benchmark::DoNotOptimize(output.data());
    }
    std::sort(all.begin(), all.end());
    const double worst = *std::max_element(least.begin(), least.end());
    state.counters["median_us"] = all[all.size() / 2];
    state.counters["worst_us"] = worst;
    state.counters["max_us"] = all.back();
    state.counters["engine_us_per_block"] = engine;
    state.counters["worst_over_engine"] = worst / (engine * instances);
    state.counters["idle_max_us"] = idleWorst;
    state.counters["allocs_per_block"] =
        static_cast<double>(allocations) / static_cast<double>(std::max<int64_t>(blocks, 1));
}
BENCHMARK(BM_CallTimesPerHostBlock)
    ->ArgsProduct({{32, 64, 512}, {1, 8}})
    ->ArgNames({"host_block", "instances"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
} // namespace
