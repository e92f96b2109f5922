// The f0 analysis seen from a host: the dump the plug-in leaves after processing a steady voice.
#include "f0maptest.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

TEST(F0Plugin, SteadyVoiceLeavesItsContourInTheDump)
{
    const std::string cache = f0test::freshFolder("plugin");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    auto host = testsupport::loadPlugin();
    host->resume();
    const auto input = testsupport::pulseTrain(200.0, 44100.0, 44100);
    testsupport::processInBlocks(*host, input, 512);
    host->suspend(); // the dump is written off the audio thread; suspend waits for it

    const std::string path = cache + "/halvern/f0map.txt";
    ASSERT_TRUE(f0test::fileExists(path));
    const auto step4 = f0test::dumpColumn(path, "step4");
    ASSERT_EQ(step4.size(), 101u);
    EXPECT_EQ(step4[0], 0.0);
    for (int i = 1; i <= 100; ++i)
        EXPECT_NE(step4[i], 0.0) << "frame " << i;
    for (int i = 13; i <= 87; ++i)
        EXPECT_NEAR(step4[i], 200.0, 2.0) << "frame " << i;
}

TEST(F0Plugin, UnwritableDumpFolderDoesNotDisturbProcessing)
{
    const std::string dir = f0test::freshFolder("plugin-file");
    const std::string notAFolder = dir + "/cache";
    std::ofstream(notAFolder) << "x";
    ::setenv("XDG_CACHE_HOME", notAFolder.c_str(), 1);
    auto host = testsupport::loadPlugin();
    host->resume();
    const auto input = testsupport::pulseTrain(200.0, 44100.0, 44100);
    const auto output = testsupport::processInBlocks(*host, input, 512);
    for (float v : output)
        ASSERT_TRUE(std::isfinite(v));
    EXPECT_FALSE(f0test::fileExists(notAFolder + "/halvern"));
}
