// The audio thread's contract seen from a host: inside processReplacing the plug-in (Halvern and
// Halvern Live) makes no heap call and no system call at all, whatever the host block size,
// controls or rate, nor Live while MIDI keys come in and its sung notes go out. How the calls are
// counted: realtimewatch.h.
#include "realtimewatch.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifdef HALVERN_REALTIME_WATCH

using namespace realtimewatch;

namespace
{
struct Scenario
{
    std::string name;
    size_t blockSize;
    bool rateChange;
    bool unwritableDump;
    const char* plugin = HALVERN_PLUGIN_PATH;
    bool midi = false;
};

// Runs the scenario's host on a watched audio thread; the effect is opened, set up and closed on
// this thread, as a host's dispatcher would.
void runWatched(const Scenario& s, const std::vector<float>& input)
{
    const std::string root = std::string(HALVERN_TEST_OUTPUT_DIR) + "/realtime_" + s.name;
    std::system(("rm -rf '" + root + "'").c_str());
    std::system(("mkdir -p '" + root + "'").c_str());
    std::string cache = root;
    if (s.unwritableDump)
    {
        cache = root + "/plain-file";
        std::system(("echo x > '" + cache + "'").c_str());
    }
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);

    auto host = std::make_unique<PluginHost>(s.plugin);
    host->setParameter(0, 0.5f + 700.0f / 2400.0f);
    host->setParameter(1, 0.5f - 500.0f / 2400.0f);
    host->setParameter(2, 1.0f);
    host->setParameter(15, 0.3f); // Live's Retune; Halvern has no parameter 15
    host->resume();
    std::vector<float> output(input.size());

    const auto processAll = [&](size_t from, size_t to)
    {
        for (size_t k = from; k < to; k += s.blockSize)
        {
            const auto n = static_cast<VstInt32>(std::min(s.blockSize, to - k));
            // a new key every 16384 samples, long enough for the sung notes to settle
            const auto key = static_cast<unsigned char>(48 + k / 16384 % 24);
            MidiEvents<3> keys;
            keys.add(0, {0xB0, 123, 0});
            keys.add(0, {0x90, key, 100});
            keys.add(n + 5, {0x80, static_cast<unsigned char>(key + 7), 0});
            enter();
            if (s.midi) host->dispatch(effProcessEvents, 0, 0, keys.list.get());
            host->process(input.data() + k, output.data() + k, n);
            leave();
        }
    };
    const auto onAudioThread = [&](size_t from, size_t to)
    { ASSERT_TRUE(runOnWatchedThread([&] { processAll(from, to); })) << "no seccomp listener"; };

    const size_t half = input.size() / 2;
    onAudioThread(0, s.rateChange ? half : input.size());
    if (s.rateChange)
    {
        host->suspend();
        host->setSampleRate(48000.0f);
        host->resume();
        onAudioThread(half, input.size());
    }
    EXPECT_TRUE(!s.midi || host->sentMidi().size() > 4) << s.name; // notes went out
    host->close();
}
} // namespace

TEST(RealTime, NoHeapOrSystemCallInsideProcessReplacing)
{
    const auto voice = testsupport::pulseTrain(180.0, 44100.0, 44100 * 3);
    const auto breath = testsupport::noise(44100, 0.05f);
    std::vector<float> input = voice;
    input.insert(input.end(), breath.begin(), breath.end());
    input.insert(input.end(), voice.begin(), voice.end());

    const Scenario scenarios[] = {
        {"block1", 1, false, false},
        {"block64", 64, false, false},
        {"block4096", 4096, false, false},
        {"block65536", 65536, false, false},
        {"ratechange", 64, true, false},
        {"unwritable", 512, false, true},
        {"live-block1", 1, false, false, HALVERN_LIVE_PLUGIN_PATH},
        {"live-block4096", 4096, false, false, HALVERN_LIVE_PLUGIN_PATH},
        {"live-ratechange", 64, true, false, HALVERN_LIVE_PLUGIN_PATH},
        {"live-midi-block64", 64, false, false, HALVERN_LIVE_PLUGIN_PATH, true},
        {"live-midi-ratechange", 512, true, false, HALVERN_LIVE_PLUGIN_PATH, true},
    };
    for (const Scenario& s : scenarios)
    {
        resetCounts();
        runWatched(s, input);
        EXPECT_EQ(heapCalls.load(), 0) << s.name;
        EXPECT_EQ(systemCalls.load(), 0) << s.name << ", last call number " << lastSystemCall;
    }
}

// The counters above really see what they should: an allocation and a file call made where the
// plug-in's would be are counted.
TEST(RealTime, TheCountersSeeHeapAndSystemCalls)
{
    resetCounts();
    ASSERT_TRUE(runOnWatchedThread(
        []
        {
            enter();
            void* p = std::malloc(100);
            std::free(p);
            getppid(); // a call the C library always makes
            leave();
        }));
    EXPECT_EQ(heapCalls.load(), 2);
    EXPECT_GE(systemCalls.load(), 1);
}

#else

TEST(RealTime, NoHeapOrSystemCallInsideProcessReplacing)
{
    GTEST_SKIP() << "the sanitizer replaces the allocation functions this test counts through";
}

#endif
