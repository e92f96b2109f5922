// Cost of one block's f0 analysis at 44100 Hz, and the share of it spent on the f0map.txt dump.
#include "f0contour.h"
#include "f0estimation.h"
#include "f0map.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
constexpr int kRate = 44100;
constexpr int kBlock = 8820;

// A 200 Hz voiced block: harmonics to 4 kHz with a falling tilt.
std::vector<double> voicedBlock()
{
    std::vector<double> x(kBlock);
    for (int k = 0; k < kBlock; ++k)
        for (int h = 1; h * 200 < 4000; ++h)
            x[k] += 0.3 * std::sin(2.0 * M_PI * 200.0 * h * k / kRate + 0.1 * h) / h;
    return x;
}

// Points the dump at a writable folder under the build tree, or at a plain file (dump skipped).
void useDumpFolder(bool writable)
{
    const std::string base = std::string(HALVERN_BENCH_DIR) + "/f0cache";
    if (writable)
    {
        ::mkdir(base.c_str(), 0700);
        ::setenv("XDG_CACHE_HOME", base.c_str(), 1);
    }
    else
    {
        const std::string file = base + "-file";
        if (std::FILE* f = std::fopen(file.c_str(), "w")) std::fclose(f);
        ::setenv("XDG_CACHE_HOME", file.c_str(), 1);
    }
}

struct BlockMap
{
    int m = f0FrameCount(kBlock, kRate);
    std::vector<double> times, f0Cells, stabilityCells;
    const double* f0Map[kF0BandCount];
    const double* stabilityMap[kF0BandCount];
    BlockMap()
        : times(m), f0Cells(static_cast<size_t>(kF0BandCount) * m), stabilityCells(f0Cells.size())
    {
        for (int i = 0; i < m; ++i)
            times[i] = (i * 2.0) * 0.001;
        const auto x = voicedBlock();
        buildF0Map(x.data(), kBlock, kRate, times.data(), m, f0Cells.data(), stabilityCells.data());
        for (int b = 0; b < kF0BandCount; ++b)
        {
            f0Map[b] = f0Cells.data() + static_cast<size_t>(b) * m;
            stabilityMap[b] = stabilityCells.data() + static_cast<size_t>(b) * m;
        }
    }
};

void BM_EstimateF0(benchmark::State& state)
{
    useDumpFolder(state.range(0) != 0);
    const auto x = voicedBlock();
    std::vector<double> times(101), f0(101);
    for (auto _ : state)
    {
        estimateF0(x.data(), kBlock, kRate, times.data(), f0.data());
        benchmark::DoNotOptimize(f0.data());
    }
    state.SetLabel(state.range(0) ? "with dump" : "dump skipped");
}
BENCHMARK(BM_EstimateF0)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_BuildF0Map(benchmark::State& state)
{
    const auto x = voicedBlock();
    BlockMap map;
    for (auto _ : state)
    {
        buildF0Map(x.data(), kBlock, kRate, map.times.data(), map.m, map.f0Cells.data(),
                   map.stabilityCells.data());
        benchmark::DoNotOptimize(map.f0Cells.data());
    }
}
BENCHMARK(BM_BuildF0Map)->Unit(benchmark::kMicrosecond);

void BM_SelectF0Contour(benchmark::State& state)
{
    useDumpFolder(state.range(0) != 0);
    BlockMap map;
    std::vector<double> best(map.m), f0(map.m);
    for (auto _ : state)
    {
        selectF0Contour(kF0BandCount, kBlock, kRate, map.f0Map, map.stabilityMap, best.data(),
                        f0.data());
        benchmark::DoNotOptimize(f0.data());
    }
    state.SetLabel(state.range(0) ? "with dump" : "dump skipped");
}
BENCHMARK(BM_SelectF0Contour)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// Formatting alone, into a string kept from call to call as the writer thread keeps it.
void BM_WriteF0Map(benchmark::State& state)
{
    BlockMap map;
    std::vector<double> contours(static_cast<size_t>(map.m) * 6);
    const double* c = contours.data();
    const F0ContourTrace trace{contours.data(),
                               contours.data() + map.m,
                               contours.data() + 2 * map.m,
                               contours.data() + 3 * map.m,
                               contours.data() + 4 * map.m,
                               contours.data() + 5 * map.m};
    traceF0Contour(kF0BandCount, map.m, map.f0Map, map.stabilityMap, trace);
    std::string text;
    for (auto _ : state)
    {
        text.clear();
        formatF0Map(text, kF0BandCount, map.m, map.f0Map, map.stabilityMap, trace);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_WriteF0Map)->Unit(benchmark::kMicrosecond);

// Opening the file safely (folder checks included), writing it and closing it.
void BM_DumpF0Map(benchmark::State& state)
{
    useDumpFolder(true);
    BlockMap map;
    std::vector<double> contours(static_cast<size_t>(map.m) * 6);
    const F0ContourTrace trace{contours.data(),
                               contours.data() + map.m,
                               contours.data() + 2 * map.m,
                               contours.data() + 3 * map.m,
                               contours.data() + 4 * map.m,
                               contours.data() + 5 * map.m};
    traceF0Contour(kF0BandCount, map.m, map.f0Map, map.stabilityMap, trace);
    for (auto _ : state)
        dumpF0Map(kF0BandCount, map.m, map.f0Map, map.stabilityMap, trace);
}
BENCHMARK(BM_DumpF0Map)->Unit(benchmark::kMicrosecond);

} // namespace
