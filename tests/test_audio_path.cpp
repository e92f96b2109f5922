// The audio path: block schedule, latency ring, block-size invariance and in-place buffers.
#include "testsupport.h"
#include "vexilvst.h"

#include <gtest/gtest.h>

#include <cmath>

using testsupport::loadPlugin;
using testsupport::processInBlocks;

namespace
{
VstIntPtr acceptingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::vector<float> voiceLikeInput(size_t length)
{
    auto voiced = testsupport::pulseTrain(180.0, 44100.0, length);
    auto breath = testsupport::noise(length, 0.02f);
    for (size_t k = 0; k < length; ++k)
        voiced[k] += breath[k];
    return voiced;
}
} // namespace

TEST(AudioPath, SilenceInSilenceOut)
{
    auto host = loadPlugin();
    std::vector<float> input(44100 * 2, 0.0f);
    auto output = processInBlocks(*host, input, 512);
    for (float v : output)
        ASSERT_EQ(v, 0.0f);
}

TEST(AudioPath, FirstLatencySamplesAreZero)
{
    auto host = loadPlugin();
    const int latency = host->effect()->initialDelay;
    auto output = processInBlocks(*host, voiceLikeInput(44100), 333);
    for (int k = 0; k < latency; ++k)
        ASSERT_EQ(output[k], 0.0f) << k;
}

TEST(AudioPath, SameStreamForAnyHostBlockSize)
{
    const auto input = voiceLikeInput(44100 * 2);
    auto reference = processInBlocks(*loadPlugin(), input, input.size());
    for (size_t blockSize : {1u, 64u, 4096u, 517u})
    {
        auto output = processInBlocks(*loadPlugin(), input, blockSize);
        ASSERT_EQ(output, reference) << "host block size " << blockSize;
    }
}

TEST(AudioPath, InPlaceBuffersGiveTheSameStream)
{
    const auto input = voiceLikeInput(44100);
    auto reference = processInBlocks(*loadPlugin(), input, 256);
    auto host = loadPlugin();
    std::vector<float> buffer = input;
    for (size_t k = 0; k < buffer.size(); k += 256)
        host->process(buffer.data() + k, buffer.data() + k,
                      static_cast<VstInt32>(std::min<size_t>(256, buffer.size() - k)));
    EXPECT_EQ(buffer, reference);
}

TEST(AudioPath, NonFiniteInputNeverReachesTheOutput)
{
    auto input = voiceLikeInput(44100 * 2);
    for (size_t k = 1000; k < 30000; k += 7)
        input[k] = (k % 3 == 0) ? NAN : (k % 3 == 1 ? INFINITY : -INFINITY);
    auto output = processInBlocks(*loadPlugin(), input, 512);
    for (float v : output)
        ASSERT_TRUE(std::isfinite(v));
}

TEST(BlockSchedule, OneLongCallCompletesBlocksWhereTheyFall)
{
    VexilVST effect(acceptingHost);
    std::vector<float> input(20000, 0.1f), output(20000);
    float* in[1] = {input.data()};
    float* out[1] = {output.data()};
    effect.processReplacing(in, out, 20000);
    EXPECT_EQ(effect.getBlocksProcessed(), 2);
    EXPECT_EQ(effect.getLastBlockSample(), 15434); // the first completed at 8819
    EXPECT_EQ(effect.getFillCount(), 2205 + 4565);
    EXPECT_EQ(effect.getHostSampleCount(), 20000);
    EXPECT_EQ(effect.getBlockStartSample(), 2 * 6615);

    effect.processReplacing(in, out, 0);
    EXPECT_EQ(effect.getHostSampleCount(), 20000);
    EXPECT_EQ(effect.getFillCount(), 6770);
}

TEST(BlockSchedule, FirstBlockCompletesAtSample8819)
{
    VexilVST effect(acceptingHost);
    std::vector<float> input(8819, 0.1f), output(8819);
    float* in[1] = {input.data()};
    float* out[1] = {output.data()};
    effect.processReplacing(in, out, 8819);
    EXPECT_EQ(effect.getBlocksProcessed(), 0);
    effect.processReplacing(in, out, 1);
    EXPECT_EQ(effect.getBlocksProcessed(), 1);
    EXPECT_EQ(effect.getLastBlockSample(), 8819);
}

TEST(LongRun, SameOutputPast32BitSampleCounts)
{
    const auto input = voiceLikeInput(44100 * 3);
    auto run = [&](int64_t start)
    {
        VexilVST effect(acceptingHost);
        effect.startAtSample(start);
        return testsupport::processEffectInBlocks(effect, input, 512);
    };
    const auto reference = run(0);
    // Starts whose runs cross 2^31 and 2^32 samples.
    for (int64_t start : {(int64_t(1) << 31) - 50000, (int64_t(1) << 32) - 50001})
        EXPECT_EQ(run(start), reference) << "start " << start;
}
