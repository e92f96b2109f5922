// How a block's engine work is spread over the host calls after the block completes: never all in
// the completing call, over many calls in proportion to the samples they cover, and done within
// the first half of the time before the block's output is first read.
#include "blockjob.h"
#include "dumpwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

TEST(BlockJob, WorkIsSpreadOverTheCallsBeforeTheOutputIsDue)
{
    const std::string cache = std::string(HALVERN_TEST_OUTPUT_DIR) + "/blockjob";
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    for (int rate : {44100, 48000, 96000})
    {
        const AnalysisGeometry g = AnalysisGeometry::forRate(rate);
        std::vector<double> ring(g.ringSize, 0.0);
        std::vector<ControlState> snapshots(g.blockLength);
        DumpSlot dump(g.frameCount);
        BlockJob job(g, ring.data(), &dump);
        std::vector<double> block(g.blockLength);
        for (int k = 0; k < g.blockLength; ++k)
            block[k] = 0.3 * std::sin(2.0 * M_PI * 180.0 * k / rate);

        // The second block of a stream: its pulse chain starts well into it.
        for (int n = 0; n < 2; ++n)
        {
            const int64_t start = static_cast<int64_t>(n) * (g.blockLength - g.blockOverlap);
            const int64_t completed = start + g.blockLength - 1;
            job.start(block, snapshots.data(), start, completed);
            ASSERT_TRUE(job.pending());
            const int64_t slack = job.dueSample() - completed;
            if (n == 1)
            {
                EXPECT_GE(slack, 2048) << rate;
            }
            if (slack <= 0)
            {
                // Above about 82 kHz the first block is due before it completes: the audio path
                // finishes it at once.
                job.finish();
                continue;
            }

            // 64-sample host calls; the first one also covers the completing sample.
            int callsWithWork = 0;
            int largestShare = 0;
            int64_t reached = completed + 1;
            while (job.pending())
            {
                reached = std::min(reached + 64, job.dueSample());
                const int before = job.stepsDone();
                job.advance(reached);
                if (job.stepsDone() > before) ++callsWithWork;
                largestShare = std::max(largestShare, job.stepsDone() - before);
                ASSERT_LE(reached, job.dueSample()) << rate;
            }
            EXPECT_GE(callsWithWork, std::min<int64_t>(8, slack / 2 / 64)) << rate;
            EXPECT_LT(largestShare, job.stepsPerBlock() / 2) << rate;
            // Done within the first half of the slack, plus the call that crossed it.
            EXPECT_LE(reached - completed, slack / 2 + 64) << rate;
        }
    }
}
