// The LV2 plug-ins' audio thread as an LV2 host runs it: inside run() Halvern and Halvern Live make
// no heap call and no system call at all, while the host changes every control between calls, at
// call lengths of 1 to 8192 frames and at 44.1 and 48 kHz, across the analysed blocks of a sung
// line, Halvern Live while MIDI keys come in and its sung notes go out. The plug-in is
// instantiated, activated and freed on the test's own thread, as a host does; how the calls are
// counted: realtimewatch.h.
#include "f0signals.h"
#include "realtimewatch.h"

#include <gtest/gtest.h>

#include <lilv/lilv.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
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
    double rate;
    uint32_t callLength;
    bool live = false;
};

// MIDI events are 1, sequences 2, anything else 3.
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri)
{
    return std::strcmp(uri, LV2_MIDI__MidiEvent) ? 2 + !!std::strcmp(uri, LV2_ATOM__Sequence) : 1;
}

class Lv2RealTime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        world = lilv_world_new();
        for (const char* path :
             {"file://" HALVERN_LV2_BUNDLE "/", "file://" HALVERN_LIVE_LV2_BUNDLE "/"})
        {
            LilvNode* bundle = lilv_new_uri(world, path);
            lilv_world_load_bundle(world, bundle);
            lilv_node_free(bundle);
        }
    }
    void TearDown() override { lilv_world_free(world); }

    const LilvPlugin* find(const char* uriText)
    {
        LilvNode* uri = lilv_new_uri(world, uriText);
        const LilvPlugin* p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
        return p;
    }

    // Runs a sung line through a new instance on a watched audio thread; the host writes new
    // values into every control port before each call (Pitch and Formant sweep, the switches
    // alternate), as automation does.
    void runWatched(const Scenario& s)
    {
        const size_t length = static_cast<size_t>(2.5 * s.rate);
        const auto sung = f0signal::vowel(f0signal::vibrato(190.0, 0.03, 5.0), s.rate, length);
        const std::vector<float> input(sung.begin(), sung.end());
        std::vector<float> output(input.size());

        const LilvPlugin* plugin = find(s.live ? "urn:brakk:halvern-live" : "urn:brakk:halvern");
        ASSERT_NE(plugin, nullptr);
        LV2_URID_Map map{nullptr, mapUri};
        const LV2_Feature mapFeature{LV2_URID__map, &map};
        const LV2_Feature* features[] = {&mapFeature, nullptr};
        LilvInstance* instance = lilv_plugin_instantiate(plugin, s.rate, features);
        ASSERT_NE(instance, nullptr);
        // Live has Retune after Halvern's fifteen; audio and latency follow the controls.
        const uint32_t count = s.live ? 16 : 15;
        float controls[16] = {};
        float latency = 0.0f;
        for (uint32_t k = 0; k < count; ++k)
            lilv_instance_connect_port(instance, k, &controls[k]);
        lilv_instance_connect_port(instance, count + 2, &latency);
        struct
        {
            LV2_Atom_Sequence in;
            LV2_Atom_Event on;
            uint8_t onBytes[8];
            LV2_Atom_Event off;
            uint8_t offBytes[8];
        } keys; // Live's MIDI in, then out and its held port
        uint64_t out[64];
        float held = 0.0f;
        size_t sent = 0;
        for (uint32_t k = 0; s.live && k < 3; ++k)
            lilv_instance_connect_port(instance, 19 + k,
                                       k == 0   ? &keys
                                       : k == 1 ? out
                                                : (void*)&held);
        lilv_instance_activate(instance);

        const auto audio = [&]
        {
            size_t call = 0;
            for (size_t at = 0; at < input.size(); at += s.callLength, ++call)
            {
                const auto n =
                    static_cast<uint32_t>(std::min<size_t>(s.callLength, input.size() - at));
                controls[0] = -12.0f + static_cast<float>(call % 241) * 0.1f;
                controls[1] = 12.0f - static_cast<float>(call % 97) * 0.25f;
                for (uint32_t k = 2; k < 15; ++k)
                    controls[k] = (call + k) % 2 ? 1.0f : 0.0f;
                controls[15] = static_cast<float>(call % 401);
                lilv_instance_connect_port(instance, count, const_cast<float*>(input.data() + at));
                lilv_instance_connect_port(instance, count + 1, output.data() + at);
                // a new key every 0.4 s, and a note off of another
                const auto key = static_cast<uint8_t>(50 + at / 17640 % 12);
                keys = {{{56, 2}, {0, 0}},
                        {{0}, {3, 1}},
                        {0x90, key, 100},
                        {{n - 1}, {3, 1}},
                        {0x80, static_cast<uint8_t>(key + 1), 0}};
                *reinterpret_cast<LV2_Atom*>(out) = {sizeof out - sizeof(LV2_Atom), 0};
                enter();
                lilv_instance_run(instance, n);
                leave();
                LV2_ATOM_SEQUENCE_FOREACH(reinterpret_cast<LV2_Atom_Sequence*>(out), e)
                {
                    ++sent;
                }
            }
        };
        EXPECT_TRUE(runOnWatchedThread(audio)) << "no seccomp listener";
        // notes went out (not at calls of a frame: Pitch moves too fast for a note to settle)
        EXPECT_TRUE(!s.live || s.callLength == 1 || sent > 2);
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
        EXPECT_GT(latency, 0.0f);
    }

    LilvWorld* world = nullptr;
};

TEST_F(Lv2RealTime, NoHeapOrSystemCallInsideRun)
{
    const Scenario scenarios[] = {
        {44100.0, 1},    {44100.0, 64},      {44100.0, 512},        {48000.0, 128},
        {48000.0, 8192}, {44100.0, 1, true}, {48000.0, 4096, true},
    };
    for (const Scenario& s : scenarios)
    {
        resetCounts();
        runWatched(s);
        const char* which = s.live ? "Live, " : "";
        EXPECT_EQ(heapCalls.load(), 0) << which << s.rate << " Hz, calls of " << s.callLength;
        EXPECT_EQ(systemCalls.load(), 0) << which << s.rate << " Hz, calls of " << s.callLength
                                         << ", last call number " << lastSystemCall;
    }
}

// The counters see what they should: an allocation and a system call made where the plug-in's
// would be are counted.
TEST(Lv2RealTimeCounters, SeeHeapAndSystemCalls)
{
    resetCounts();
    ASSERT_TRUE(runOnWatchedThread(
        []
        {
            enter();
            void* p = std::malloc(100);
            std::free(p);
            getppid();
            leave();
        }));
    EXPECT_EQ(heapCalls.load(), 2);
    EXPECT_GE(systemCalls.load(), 1);
}

} // namespace

#else

TEST(Lv2RealTime, NoHeapOrSystemCallInsideRun)
{
    GTEST_SKIP() << "the sanitizer replaces the allocation functions this test counts through";
}

#endif
