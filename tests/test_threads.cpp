// A parameter thread storming the setter while the audio thread processes and the editor's
// thread redraws. Run under
// ThreadSanitizer by scripts/run-sanitizers.sh; in the ordinary suite it checks the stream stays
// finite and the stored values stay valid.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

TEST(Threads, ParameterStormDuringProcessing)
{
    auto host = testsupport::loadPlugin();
    const auto input = testsupport::pulseTrain(190.0, 44100.0, 44100 * 3);
    std::atomic<bool> done{false};
    std::atomic<long> sets{0};

    std::thread parameters(
        [&]
        {
            uint32_t state = 7;
            char text[16];
            while (!done.load())
            {
                state = state * 1664525u + 1013904223u;
                const VstInt32 index = static_cast<VstInt32>(state % 15);
                const float value = static_cast<float>((state >> 8) % 1001) / 1000.0f;
                host->setParameter(index, value);
                host->getParameter(index);
                host->dispatch(effGetParamDisplay, index, 0, text);
                sets.fetch_add(1);
            }
        });

    // The editor's thread: opens the editor and gives it idle time, as a host's UI thread does.
    std::thread editor(
        [&]
        {
            int parent = 0;
            host->dispatch(effEditOpen, 0, 0, &parent);
            while (!done.load())
            {
                host->dispatch(effEditIdle);
                std::this_thread::yield();
            }
            host->dispatch(effEditClose);
        });

    std::vector<float> output(input.size());
    for (size_t k = 0; k < input.size(); k += 256)
        host->process(input.data() + k, output.data() + k,
                      static_cast<VstInt32>(std::min<size_t>(256, input.size() - k)));
    done = true;
    parameters.join();
    editor.join();

    EXPECT_GT(sets.load(), 0);
    for (float v : output)
        ASSERT_TRUE(std::isfinite(v));
    for (VstInt32 i = 0; i < 15; ++i)
    {
        const float v = host->getParameter(i);
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 1.0f);
    }
}
