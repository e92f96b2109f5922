// The parameters through the host's calls: mappings, quantisation, names and display texts. Halvern
// and Halvern Live share their first fifteen, so those run against both libraries; Live's Retune,
// identifier and delay follow.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

class Parameters : public ::testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        host = std::make_unique<PluginHost>(GetParam());
        count = host->effect()->numParams;
    }
    std::unique_ptr<PluginHost> host;
    int count = 0;
};

INSTANTIATE_TEST_SUITE_P(BothPlugins, Parameters,
                         ::testing::Values(HALVERN_PLUGIN_PATH, HALVERN_LIVE_PLUGIN_PATH));

TEST_P(Parameters, Defaults)
{
    EXPECT_EQ(host->getParameter(0), 0.5f);
    EXPECT_EQ(host->getParameter(1), 0.5f);
    EXPECT_EQ(host->getParameter(2), 0.0f);
    for (int i = 3; i < 15; ++i)
        EXPECT_EQ(host->getParameter(i), 1.0f) << i;
    EXPECT_EQ(host->parameterDisplay(0), "+0.0");
    EXPECT_EQ(host->parameterDisplay(2), "OFF");
    EXPECT_EQ(host->parameterDisplay(3), "ON");
}

TEST_P(Parameters, Names)
{
    const char* expected[15] = {"Pitch",   "Formant",  "Scale",   "Scale C",  "Scale C#",
                                "Scale D", "Scale D#", "Scale E", "Scale F",  "Scale F#",
                                "Scale G", "Scale G#", "Scale A", "Scale A#", "Scale B"};
    for (int i = 0; i < 15; ++i)
    {
        EXPECT_EQ(host->parameterName(i), expected[i]);
        EXPECT_LE(host->parameterName(i).size(), 8u);
        EXPECT_EQ(host->parameterLabel(i), "");
    }
}

TEST_P(Parameters, OutOfRangeIndexLeavesBuffersAndStateAlone)
{
    for (VstInt32 index : {count, count + 1, 100, -1})
    {
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        host->dispatch(effGetParamName, index, 0, buffer);
        EXPECT_EQ(buffer[0], '#');
        host->dispatch(effGetParamDisplay, index, 0, buffer);
        EXPECT_EQ(buffer[0], '#');
        host->setParameter(index, 0.0f);
        EXPECT_EQ(host->getParameter(index), 0.0f);
    }
    for (int i = 3; i < 15; ++i)
        EXPECT_EQ(host->getParameter(i), 1.0f);
    EXPECT_EQ(host->getParameter(0), 0.5f);
}

struct PitchCase
{
    float hostValue;
    float readBack;
    const char* text;
};

TEST_P(Parameters, PitchAndFormantMapping)
{
    const PitchCase cases[] = {
        {0.5f, 0.5f, "+0.0"},
        {1.0f, 1.0f, "+12.0"},
        {0.0f, 0.0f, "-12.0"},
        {0.75f, 0.75f, "+6.0"},
        {0.49f, -20.0f * (1.0f / 2400.0f) + 0.5f, "-0.2"},
        {0.7541f, 0.75f, "+6.0"},
        {0.76f, 620.0f * (1.0f / 2400.0f) + 0.5f, "+6.2"},
        {2.0f, 3600.0f * (1.0f / 2400.0f) + 0.5f, "+36.0"}, // not clamped
    };
    for (int index : {0, 1})
        for (const auto& c : cases)
        {
            host->setParameter(index, c.hostValue);
            EXPECT_EQ(host->getParameter(index), c.readBack) << c.hostValue;
            EXPECT_EQ(host->parameterDisplay(index), c.text) << c.hostValue;
        }
    host->setParameter(0, 0.76f);
    EXPECT_NEAR(host->getParameter(0), 0.758333f, 1e-6);
}

TEST_P(Parameters, ZeroStepIsTwiceAsWide)
{
    // Truncation toward zero: everything strictly within 1/240 of the centre is 0 cents.
    for (float v : {0.5f - 1.0f / 240.0f + 1e-5f, 0.4999f, 0.5001f, 0.5f + 1.0f / 240.0f - 1e-5f})
    {
        host->setParameter(0, v);
        EXPECT_EQ(host->getParameter(0), 0.5f) << v;
    }
    host->setParameter(0, 0.5f + 1.0f / 240.0f + 1e-5f);
    EXPECT_EQ(host->parameterDisplay(0), "+0.1");
    host->setParameter(0, 0.5f - 1.0f / 240.0f - 1e-5f);
    EXPECT_EQ(host->parameterDisplay(0), "-0.1");
}

TEST_P(Parameters, SwitchesRoundToOnOrOff)
{
    for (int index = 2; index < 15; ++index)
    {
        host->setParameter(index, 0.49f);
        EXPECT_EQ(host->getParameter(index), 0.0f);
        EXPECT_EQ(host->parameterDisplay(index), "OFF");
        host->setParameter(index, 0.5f);
        EXPECT_EQ(host->getParameter(index), 1.0f);
        EXPECT_EQ(host->parameterDisplay(index), "ON");
    }
}

TEST_P(Parameters, NoteSwitchesAreIndependent)
{
    host->setParameter(5, 0.0f); // Scale D
    for (int i = 3; i < 15; ++i)
        EXPECT_EQ(host->getParameter(i), i == 5 ? 0.0f : 1.0f) << i;
}

TEST_P(Parameters, ExtremeHostValuesKeepTextsWithinEightCharacters)
{
    const float extremes[] = {-1.0f,
                              2.0f,
                              100.0f,
                              -1e6f,
                              1e30f,
                              -1e30f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
    for (int index = 0; index < count; ++index)
        for (float v : extremes)
        {
            char buffer[32];
            std::memset(buffer, '#', sizeof buffer);
            host->setParameter(index, v);
            host->dispatch(effGetParamDisplay, index, 0, buffer);
            EXPECT_LE(std::strlen(buffer), 8u) << index << " " << v;
            EXPECT_EQ(buffer[9], '#'); // nothing written past the terminator's place
            EXPECT_TRUE(std::isfinite(host->getParameter(index)));
        }
    // Saturated, not wrapped: a huge positive value stays positive.
    host->setParameter(0, 1e30f);
    EXPECT_GT(host->getParameter(0), 1.0f);
    EXPECT_EQ(host->parameterDisplay(0)[0], '+');
    host->setParameter(2, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(host->getParameter(2), 0.0f);
}

TEST(LiveParameters, RetuneRangeWholeMillisecondsAndTexts)
{
    PluginHost host(HALVERN_LIVE_PLUGIN_PATH);
    ASSERT_EQ(host.effect()->numParams, 16);
    EXPECT_EQ(host.parameterName(15), "Retune");
    EXPECT_EQ(host.parameterLabel(15), "ms");
    EXPECT_EQ(host.getParameter(15), 0.125f); // 50 ms
    EXPECT_EQ(host.parameterDisplay(15), "50");
    const PitchCase cases[] = {
        {0.0f, 0.0f, "0"},
        {1.0f, 1.0f, "400"},
        {0.5012f, 0.5f, "200"},
        {0.50126f, 201.0f / 400.0f, "201"},
        {0.00124f, 0.0f, "0"},
        {-3.0f, 0.0f, "0"},
        {7.0f, 1.0f, "400"},
        {std::numeric_limits<float>::quiet_NaN(), 0.125f, "50"},
        {37.0f / 400.0f, 37.0f / 400.0f, "37"},
    };
    for (const auto& c : cases)
    {
        host.setParameter(15, c.hostValue);
        EXPECT_EQ(host.getParameter(15), c.readBack) << c.hostValue;
        EXPECT_EQ(host.parameterDisplay(15), c.text) << c.hostValue;
    }
}

TEST(LiveParameters, OwnIdentifierNamesAndTheEnginesDelayAtEachRate)
{
    PluginHost live(HALVERN_LIVE_PLUGIN_PATH);
    EXPECT_EQ(live.effect()->uniqueID, 0x48764C76); // 'HvLv', not Halvern's 0x306E3338
    EXPECT_EQ(live.effectName() + live.productString() + live.vendorString(),
              "Halvern LiveHalvern LiveBrakk");
    EXPECT_EQ(live.effect()->initialDelay, 512);

    // The same time at 48 kHz, told to the host; a rate out of range keeps it.
    live.setSampleRate(48000.0f);
    EXPECT_EQ(live.effect()->initialDelay, 48000 * 512 / 44100);
    bool told = false;
    for (const auto& call : live.hostCalls())
        told = told || call.opcode == audioMasterIOChanged;
    EXPECT_TRUE(told);
    live.setSampleRate(8000.0f);
    EXPECT_EQ(live.effect()->initialDelay, 557);
}

// Live takes and sends MIDI, and asks for it when resumed; Halvern does not (test_host_interface).
TEST(LiveParameters, CanDoMidiInAndOutAndAsksForItOnResume)
{
    PluginHost live(HALVERN_LIVE_PLUGIN_PATH);
    for (const char* what :
         {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents", "sendVstMidiEvent"})
        EXPECT_EQ(live.dispatch(effCanDo, 0, 0, const_cast<char*>(what)), 1) << what;
    live.resume();
    EXPECT_EQ(live.hostCalls().back().opcode, audioMasterWantMidi);
}
