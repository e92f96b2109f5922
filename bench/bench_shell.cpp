// Per-sample cost of the audio path: gathering, control snapshots and the latency ring.
#include "vexilvst.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace
{
VstIntPtr acceptingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

// Host blocks that never complete an analysis block, so only the per-sample path is timed.
void BM_ProcessReplacingPerSample(benchmark::State& state)
{
    const int blockSize = static_cast<int>(state.range(0));
    VexilVST effect(acceptingHost);
    std::vector<float> input(blockSize), output(blockSize);
    for (int k = 0; k < blockSize; ++k)
        input[k] = 0.3f * std::sin(0.05f * k);
    float* in[1] = {input.data()};
    float* out[1] = {output.data()};
    const int blockLength = effect.geometry().blockLength;
    for (auto _ : state)
    {
        if (effect.getFillCount() + blockSize >= blockLength)
        {
            // Let the next analysis block complete outside the timed region.
            state.PauseTiming();
            const int64_t blocks = effect.getBlocksProcessed();
            while (effect.getBlocksProcessed() == blocks)
                effect.processReplacing(in, out, 1);
            state.ResumeTiming();
        }
        effect.processReplacing(in, out, blockSize);
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations() * blockSize);
}
BENCHMARK(BM_ProcessReplacingPerSample)->Arg(64)->Arg(512);
} // namespace
