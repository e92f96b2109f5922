// The hand-off of a block's map from the audio thread to the dump writer: the buffer the audio
// side writes is never the one waiting or the one being formatted, and every dump holds one
// block's numbers only, while one thread publishes, another writes and a third reads.
#include "dumpwriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class DumpSlotProbe
{
public:
    // Called on the publishing thread: back is its own, the rest is the writer's under its lock.
    static bool sidesApart(DumpSlot& slot)
    {
        std::lock_guard<std::mutex> lock(slot.writeMutex);
        const int waiting = slot.middle.load() & 3;
        return slot.back != slot.front && slot.back != waiting && slot.front != waiting;
    }
};

namespace
{
constexpr int kFrames = 50;

// The block's number when every value of the dump is that number, else -1 (0 for no dump yet).
long blockOfDump(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line); // header
    long block = 0;
    int rows = 0;
    while (std::getline(lines, line))
    {
        ++rows;
        std::istringstream fields(line);
        std::string field;
        std::getline(fields, field, ','); // frame index
        while (std::getline(fields, field, ','))
        {
            const long value = std::strtol(field.c_str(), nullptr, 10);
            if (block == 0) block = value;
            if (value != block || value <= 0) return -1;
        }
    }
    return rows == 0 || rows == kFrames ? block : -1;
}
} // namespace

TEST(DumpHandoff, AudioSideNeverWritesTheWritersBufferAndEveryDumpIsOneBlock)
{
    const std::string cache = std::string(HALVERN_TEST_OUTPUT_DIR) + "/dump_handoff";
    std::system(("rm -rf '" + cache + "'").c_str());
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const std::string path = cache + "/halvern/f0map.txt";

    DumpSlot slot(kFrames);
    std::vector<std::vector<double>> rows(DumpSlot::kRows, std::vector<double>(kFrames));
    const double* map[7] = {nullptr};
    const double* stability[7] = {nullptr};
    for (int b = 1; b < 7; ++b)
    {
        map[b] = rows[b - 1].data();
        stability[b] = rows[b + 5].data();
    }
    const F0ContourTrace trace{rows[12].data(), rows[13].data(), rows[14].data(),
                               rows[15].data(), rows[16].data(), rows[17].data()};

    std::atomic<bool> done{false};
    std::atomic<long> dumps{0}, mixed{0};
    // Formats what is waiting as fast as it can and reads the file after each dump.
    std::thread writerAndReader(
        [&]
        {
            while (!done.load())
            {
                slot.flush();
                std::ifstream in(path);
                const long block = blockOfDump(std::string(std::istreambuf_iterator<char>(in),
                                                           std::istreambuf_iterator<char>()));
                dumps.fetch_add(block > 0);
                mixed.fetch_add(block < 0);
            }
        });
    bool apart = true;
    // Publishing goes on until a hundred dumps were read, each formatted during publishes.
    for (int block = 1; apart && dumps.load() < 100 && block < 10000000; ++block)
    {
        for (auto& row : rows)
            row.assign(kFrames, block);
        slot.publish(map, stability, trace);
        apart = DumpSlotProbe::sidesApart(slot);
        EXPECT_TRUE(apart) << "after block " << block;
    }
    done.store(true);
    writerAndReader.join();
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_GE(dumps.load(), 100);
}
