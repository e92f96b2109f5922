// CPU time per second of voice through built plug-ins, loaded as a host loads them, side by side in
// one run: HALVERN_BENCH_PLUGINS names the libraries (separated by ':'; by default the one built
// here). Process CPU time is measured, so a dump writer thread's work counts as well. The dump is
// written to a private cache folder, as in a session.
#include "benchvoice.h"
#include "pluginhost.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace
{

// One iteration: one second of voice in 512-sample host calls, Pitch +3, Formant -2, Scale on.
void cpuPerSecondOfVoice(benchmark::State& state, std::string library)
{
    const int rate = static_cast<int>(state.range(0));
    const auto input = benchVoice(rate, static_cast<size_t>(rate) * 4);
    std::vector<float> output(input.size());
    PluginHost host(library);
    host.setSampleRate(static_cast<float>(rate));
    host.setParameter(0, 0.5f + 300.0f / 2400.0f);
    host.setParameter(1, 0.5f - 200.0f / 2400.0f);
    host.setParameter(2, 1.0f);
    host.resume();
    size_t pos = 0;
    for (auto _ : state)
    {
        for (int done = 0; done < rate; done += 512)
        {
            const int n = std::min(512, rate - done);
            if (pos + n > input.size()) pos = 0;
            host.process(input.data() + pos, output.data() + pos, n);
            pos += n;
        }
        benchmark::DoNotOptimize(output.data());
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string cache = "/tmp/halvern-bench-cache";
    std::system(("mkdir -p '" + cache + "'").c_str());
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    std::string list = HALVERN_PLUGIN_PATH;
    if (const char* given = std::getenv("HALVERN_BENCH_PLUGINS")) list = given;
    size_t from = 0;
    while (from <= list.size())
    {
        const size_t to = std::min(list.find(':', from), list.size());
        const std::string library = list.substr(from, to - from);
        from = to + 1;
        if (library.empty()) continue;
        benchmark::RegisterBenchmark(("CpuPerSecondOfVoice/" + library).c_str(),
                                     cpuPerSecondOfVoice, library)
            ->Arg(44100)
            ->Arg(48000)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
