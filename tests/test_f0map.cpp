// The dump file: where it goes, what it holds, and that it is skipped rather than opened unsafely.
#include "f0contour.h"
#include "f0map.h"
#include "f0maptest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using f0test::CandidateMap;
using f0test::fileExists;
using f0test::freshFolder;
using f0test::readLines;

namespace
{
constexpr int kBands = 7;
constexpr int kFrames = 101;

// Restores the environment variables a test changes.
class EnvironmentGuard
{
public:
    EnvironmentGuard()
    {
        for (const char* name : {"XDG_CACHE_HOME", "HOME"})
        {
            const char* v = std::getenv(name);
            saved.push_back({name, v ? std::string(v) : std::string(), v != nullptr});
        }
    }
    ~EnvironmentGuard()
    {
        for (const auto& s : saved)
        {
            if (s.present)
                ::setenv(s.name, s.value.c_str(), 1);
            else
                ::unsetenv(s.name);
        }
    }

private:
    struct Saved
    {
        const char* name;
        std::string value;
        bool present;
    };
    std::vector<Saved> saved;
};

// A map with a steady 200 Hz band and a little of everything else.
CandidateMap sampleMap(int m)
{
    CandidateMap map(kBands, m);
    map.setRange(3, 0, m - 1, 200.0, 0.01);
    map.setRange(4, 10, 20, 205.25, 0.0625);
    return map;
}

// Runs one selection with the dump; returns f0.
std::vector<double> select(CandidateMap& map, int n = 8820, int fs = 44100)
{
    std::vector<double> best(map.m), f0(map.m);
    selectF0Contour(map.bands, n, fs, map.f0Map(), map.stabilityMap(), best.data(), f0.data());
    return f0;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
} // namespace

class F0Map : public ::testing::Test
{
protected:
    EnvironmentGuard env;
};

TEST_F(F0Map, HeaderAndOneLinePerFrame)
{
    const std::string cache = freshFolder("layout");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    auto map = sampleMap(kFrames);
    const auto f0 = select(map);

    const std::string path = cache + "/halvern/f0map.txt";
    const auto lines = readLines(path);
    ASSERT_EQ(lines.size(), 1u + kFrames);
    EXPECT_EQ(lines[0], ",map1,map2,map3,map4,map5,map6,stab1,stab2,stab3,stab4,stab5,stab6,"
                        "BEST,base,step1,step2,step3,step4");
    for (int i = 0; i < kFrames; ++i)
    {
        const std::string& line = lines[1 + i];
        ASSERT_EQ(std::count(line.begin(), line.end(), ','), 18) << line;
        ASSERT_EQ(line.substr(0, line.find(',')), std::to_string(i));
    }
    // Frame 15: map3 = 200, map4 = 205.25, the other bands empty; their stability is 1e13.
    EXPECT_EQ(lines[16], "15,0.000000,0.000000,200.000000,205.250000,0.000000,0.000000,"
                         "10000000000000.000000,10000000000000.000000,0.010000,0.062500,"
                         "10000000000000.000000,10000000000000.000000,"
                         "200.000000,200.000000,200.000000,200.000000,200.000000,200.000000");
    EXPECT_EQ(f0test::dumpColumn(path, "step4"), f0);
    EXPECT_EQ(f0test::dumpColumn(path, "step2"),
              f0test::voicedOn(kFrames, 12, kFrames - 12, 200.0));

    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((cache + "/halvern").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(F0Map, EachBlockReplacesThePreviousDump)
{
    const std::string cache = freshFolder("replace");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    auto longer = sampleMap(151);
    select(longer, 13230, 44100);
    EXPECT_EQ(readLines(cache + "/halvern/f0map.txt").size(), 152u);
    auto shorter = sampleMap(kFrames);
    select(shorter);
    EXPECT_EQ(readLines(cache + "/halvern/f0map.txt").size(), 102u);
}

TEST_F(F0Map, MissingCacheFolderIsCreatedPrivate)
{
    const std::string cache = freshFolder("create") + "/cache";
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    auto map = sampleMap(kFrames);
    select(map);
    EXPECT_TRUE(fileExists(cache + "/halvern/f0map.txt"));
    struct stat st;
    ASSERT_EQ(::stat(cache.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(F0Map, HomeCacheWhenTheCacheVariableIsUnsetOrRelative)
{
    const std::string home = freshFolder("home");
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_CACHE_HOME");
    auto map = sampleMap(kFrames);
    select(map);
    EXPECT_TRUE(fileExists(home + "/.cache/halvern/f0map.txt"));

    const std::string home2 = freshFolder("home-relative");
    ::setenv("HOME", home2.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1);
    select(map);
    EXPECT_TRUE(fileExists(home2 + "/.cache/halvern/f0map.txt"));
    EXPECT_FALSE(fileExists("relative"));
}

TEST_F(F0Map, NeverWritesIntoTheWorkingDirectory)
{
    const std::string cwd = freshFolder("cwd");
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
    ::unsetenv("XDG_CACHE_HOME");
    ::unsetenv("HOME");
    auto map = sampleMap(kFrames);
    const auto f0 = select(map);
    EXPECT_EQ(f0, f0test::voicedOn(kFrames, 1, kFrames - 1, 200.0));
    EXPECT_FALSE(fileExists(cwd + "/f0map.txt"));
    EXPECT_FALSE(fileExists(cwd + "/halvern"));
    ASSERT_EQ(::chdir(previous), 0);
}

TEST_F(F0Map, SkippedWhenTheCacheFolderIsAFile)
{
    const std::string dir = freshFolder("file");
    const std::string notAFolder = dir + "/cache";
    std::ofstream(notAFolder) << "plain file\n";
    ::setenv("XDG_CACHE_HOME", notAFolder.c_str(), 1);
    auto map = sampleMap(kFrames);
    const auto f0 = select(map);
    EXPECT_EQ(f0, f0test::voicedOn(kFrames, 1, kFrames - 1, 200.0));
    EXPECT_EQ(slurp(notAFolder), "plain file\n");
    EXPECT_FALSE(replaceF0MapFile("x\n"));
    EXPECT_FALSE(exchangeF0MapFile("x\n", f0MapSpareName(0)));
}

TEST_F(F0Map, LinkAtTheFileNameIsNotFollowed)
{
    const std::string cache = freshFolder("link");
    ASSERT_EQ(::mkdir((cache + "/halvern").c_str(), 0700), 0);
    const std::string target = cache + "/victim.txt";
    std::ofstream(target) << "keep me\n";
    const std::string link = cache + "/halvern/f0map.txt";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);

    auto map = sampleMap(kFrames);
    const auto f0 = select(map);
    EXPECT_EQ(f0, f0test::voicedOn(kFrames, 1, kFrames - 1, 200.0));
    EXPECT_EQ(slurp(target), "keep me\n");
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(F0Map, LinkInPlaceOfTheFolderIsNotFollowed)
{
    const std::string cache = freshFolder("folderlink");
    const std::string elsewhere = freshFolder("elsewhere");
    ASSERT_EQ(::symlink(elsewhere.c_str(), (cache + "/halvern").c_str()), 0);
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    auto map = sampleMap(kFrames);
    select(map);
    EXPECT_FALSE(fileExists(elsewhere + "/f0map.txt"));
}

TEST_F(F0Map, SkippedWhenOthersCanWriteTheFolder)
{
    const std::string cache = freshFolder("shared");
    const std::string folder = cache + "/halvern";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    auto map = sampleMap(kFrames);
    select(map);
    EXPECT_FALSE(fileExists(folder + "/f0map.txt"));
}

TEST_F(F0Map, FifoAtTheFileNameIsRefusedWithoutBlocking)
{
    const std::string cache = freshFolder("fifo");
    ASSERT_EQ(::mkdir((cache + "/halvern").c_str(), 0700), 0);
    const std::string fifo = cache + "/halvern/f0map.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    // With no reader, a blocking open of the FIFO would never return.
    EXPECT_FALSE(replaceF0MapFile("x\n"));
    EXPECT_FALSE(exchangeF0MapFile("x\n", f0MapSpareName(0)));
    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(F0MapText, EveryValueIsWrittenAsPrintfFixedWouldWriteIt)
{
    // Values with many digits, halfway-looking tails, tiny and huge magnitudes, negatives.
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1e13,
                                  0.0000005,
                                  0.0000015,
                                  2.5e-7,
                                  199.9999995,
                                  123.4567895,
                                  -3.2500005,
                                  640.0,
                                  1e-300,
                                  4.9e-324,
                                  1.7976931348623157e308};
    uint64_t state = 99;
    for (int k = 0; k < 2000; ++k)
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double unit = static_cast<double>(state >> 11) / 9007199254740992.0;
        values.push_back((unit - 0.3) * std::pow(10.0, static_cast<int>(state % 17) - 6));
    }
    const int m = static_cast<int>(values.size());
    std::vector<double> column(values);
    std::vector<const double*> rows(kBands, column.data());
    std::vector<double> zeros(m, 0.0);
    F0ContourTrace trace{column.data(), zeros.data(), zeros.data(),
                         zeros.data(),  zeros.data(), column.data()};

    std::string text;
    formatF0Map(text, kBands, m, rows.data(), rows.data(), trace);

    std::string expected = ",map1,map2,map3,map4,map5,map6,stab1,stab2,stab3,stab4,stab5,stab6,"
                           "BEST,base,step1,step2,step3,step4\n";
    for (int i = 0; i < m; ++i)
    {
        char field[400];
        std::snprintf(field, sizeof field, "%d", i);
        expected += field;
        std::snprintf(field, sizeof field, ",%f", values[i]);
        for (int k = 0; k < 13; ++k)
            expected += field;
        std::snprintf(field, sizeof field, ",%f", 0.0);
        for (int k = 0; k < 4; ++k)
            expected += field;
        std::snprintf(field, sizeof field, ",%f\n", values[i]);
        expected += field;
    }
    EXPECT_EQ(text, expected);
}
