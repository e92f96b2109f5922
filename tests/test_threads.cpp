// A parameter thread storming the setter while the audio thread processes and the editor's
// thread redraws, for Halvern and Halvern Live. Run under
// ThreadSanitizer by scripts/run-sanitizers.sh; in the ordinary suite it checks the stream stays
// finite and the stored values stay valid.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

class Threads : public ::testing::TestWithParam<const char*>
{
};
INSTANTIATE_TEST_SUITE_P(BothPlugins, Threads,
                         ::testing::Values(HALVERN_PLUGIN_PATH, HALVERN_LIVE_PLUGIN_PATH));

TEST_P(Threads, ParameterStormDuringProcessing)
{
    auto host = std::make_unique<PluginHost>(GetParam());
    const VstInt32 count = host->effect()->numParams;
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
                const VstInt32 index = static_cast<VstInt32>(state % count);
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

    // The audio is processed in a few milliseconds: start only once the storm is under way.
    while (sets.load() == 0)
        std::this_thread::yield();
    std::vector<float> output(input.size());
    for (size_t k = 0; k < input.size(); k += 256)
        host->process(input.data() + k, output.data() + k,
                      static_cast<VstInt32>(std::min<size_t>(256, input.size() - k)));
    done = true;
    parameters.join();
    editor.join();

    for (float v : output)
        ASSERT_TRUE(std::isfinite(v));
    for (VstInt32 i = 0; i < count; ++i)
    {
        const float v = host->getParameter(i);
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 1.0f);
    }
}

namespace
{
std::string slurpFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A whole dump: a header and one line of 19 fields per frame, each line complete.
bool wholeDump(const std::string& text, size_t frames)
{
    if (text.empty() || text.back() != '\n') return false;
    size_t lines = 0;
    size_t commas = 0;
    for (char c : text)
    {
        if (c == ',') ++commas;
        if (c == '\n')
        {
            if (commas != 18) return false;
            commas = 0;
            ++lines;
        }
    }
    return lines == frames + 1;
}
} // namespace

// Two effects of the process write the same dump at once while a reader keeps reading it: the
// reader only ever sees whole dumps, and after both close the file is one effect's last map,
// byte for byte, with no temporary file left beside it.
TEST(Threads, TwoEffectsShareTheDumpWithoutTearingIt)
{
    const std::string cache = std::string(HALVERN_TEST_OUTPUT_DIR) + "/threads_shared_dump";
    std::system(("rm -rf '" + cache + "'").c_str());
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const std::string path = cache + "/halvern/f0map.txt";
    const std::vector<float> inputs[2] = {testsupport::pulseTrain(150.0, 44100.0, 44100 * 3),
                                          testsupport::pulseTrain(310.0, 44100.0, 44100 * 3)};

    // Each effect's last map, written alone.
    std::string alone[2];
    for (int k = 0; k < 2; ++k)
    {
        auto host = testsupport::loadPlugin();
        host->resume();
        testsupport::processInBlocks(*host, inputs[k], 256);
        host->close();
        alone[k] = slurpFile(path);
        ASSERT_TRUE(wholeDump(alone[k], 101));
    }
    ASSERT_NE(alone[0], alone[1]);

    std::atomic<bool> done{false};
    std::atomic<long> reads{0}, torn{0};
    std::thread reader(
        [&]
        {
            while (!done.load())
            {
                const std::string text = slurpFile(path);
                reads.fetch_add(1);
                if (!wholeDump(text, 101)) torn.fetch_add(1);
            }
        });
    std::thread effects[2];
    for (int k = 0; k < 2; ++k)
        effects[k] = std::thread(
            [&, k]
            {
                auto host = testsupport::loadPlugin();
                host->resume();
                testsupport::processInBlocks(*host, inputs[k], 64);
                host->close();
            });
    for (auto& t : effects)
        t.join();
    done = true;
    reader.join();

    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    const std::string last = slurpFile(path);
    EXPECT_TRUE(last == alone[0] || last == alone[1]);
    EXPECT_EQ(std::system(("test \"$(ls -A '" + cache + "/halvern')\" = f0map.txt").c_str()), 0);
}
