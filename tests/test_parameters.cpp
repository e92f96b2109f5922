// The 15 parameters through the host's calls: mappings, quantisation, names and display texts.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using testsupport::loadPlugin;

class Parameters : public ::testing::Test
{
protected:
    void SetUp() override { host = loadPlugin(); }
    std::unique_ptr<PluginHost> host;
};

TEST_F(Parameters, Defaults)
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

TEST_F(Parameters, Names)
{
    const char* expected[15] = {"Pitch",    "Formant",  "Scale",    "Scale C",  "Scale C#",
                                "Scale D",  "Scale D#", "Scale E",  "Scale F",  "Scale F#",
                                "Scale G",  "Scale G#", "Scale A",  "Scale A#", "Scale B"};
    for (int i = 0; i < 15; ++i)
    {
        EXPECT_EQ(host->parameterName(i), expected[i]);
        EXPECT_LE(host->parameterName(i).size(), 8u);
        EXPECT_EQ(host->parameterLabel(i), "");
    }
}

TEST_F(Parameters, OutOfRangeIndexLeavesBuffersAndStateAlone)
{
    for (VstInt32 index : {15, 16, 100, -1})
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

TEST_F(Parameters, PitchAndFormantMapping)
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

TEST_F(Parameters, ZeroStepIsTwiceAsWide)
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

TEST_F(Parameters, SwitchesRoundToOnOrOff)
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

TEST_F(Parameters, NoteSwitchesAreIndependent)
{
    host->setParameter(5, 0.0f); // Scale D
    for (int i = 3; i < 15; ++i)
        EXPECT_EQ(host->getParameter(i), i == 5 ? 0.0f : 1.0f) << i;
}

TEST_F(Parameters, ExtremeHostValuesKeepTextsWithinEightCharacters)
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
    for (int index = 0; index < 15; ++index)
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
