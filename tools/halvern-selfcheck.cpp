// Loads the built plug-ins (Halvern, then Halvern Live) as a host would and prints what a host
// sees of each; or of the one library named on the command line (halvern-selfcheck [PATH]).
#include "pluginhost.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

bool check(const char* path)
{
    try
    {
        PluginHost host(path);
        AEffect* e = host.effect();
        std::printf("%s by %s (%s), unique id 0x%08X, version %d\n", host.effectName().c_str(),
                    host.vendorString().c_str(), host.productString().c_str(),
                    static_cast<unsigned>(e->uniqueID), e->version);
        std::printf("inputs %d, outputs %d, programs %d, flags 0x%X\n", e->numInputs,
                    e->numOutputs, e->numPrograms, static_cast<unsigned>(e->flags));
        std::printf("latency %d samples (%.1f ms at 44100 Hz)\n", e->initialDelay,
                    e->initialDelay * 1000.0 / 44100.0);
        std::printf("%d parameters:\n", e->numParams);
        for (int i = 0; i < e->numParams; ++i)
            std::printf("  %2d %-8s = %-8s %-3s (%.4f)\n", i, host.parameterName(i).c_str(),
                        host.parameterDisplay(i).c_str(), host.parameterLabel(i).c_str(),
                        host.getParameter(i));

        // One second of a 220 Hz tone through the effect.
        host.setSampleRate(44100.0f);
        host.resume();
        std::vector<float> buffer(44100);
        for (size_t k = 0; k < buffer.size(); ++k)
            buffer[k] = 0.5f * static_cast<float>(std::sin(2.0 * 3.141592653589793 * 220.0 * k / 44100.0));
        for (size_t k = 0; k < buffer.size(); k += 512)
        {
            const int n = static_cast<int>(std::min<size_t>(512, buffer.size() - k));
            host.process(buffer.data() + k, buffer.data() + k, n);
        }
        double peak = 0;
        for (float v : buffer)
            peak = std::max(peak, static_cast<double>(std::fabs(v)));
        std::printf("processed 1 s of a 220 Hz tone in 512-sample blocks: output peak %.3f\n", peak);
        host.suspend();
    }
    catch (const PluginLoadError& error)
    {
        std::fprintf(stderr, "halvern-selfcheck: %s\n", error.what());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) return check(argv[1]) ? EXIT_SUCCESS : EXIT_FAILURE;
    const bool halvern = check(HALVERN_DEFAULT_PLUGIN);
    std::printf("\n");
    const bool live = check(HALVERN_LIVE_PLUGIN);
    return halvern && live ? EXIT_SUCCESS : EXIT_FAILURE;
}
