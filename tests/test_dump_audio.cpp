// However the diagnostic dump's place is spoiled, the audio is the same and no link is followed.
#include "f0maptest.h"
#include "testsupport.h"
#include "vexilvst.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
using f0test::fileExists;
using f0test::freshFolder;

VstIntPtr acceptingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::vector<float> render(const std::vector<float>& input)
{
    VexilVST effect(acceptingHost);
    effect.setParameter(0, 0.6f);
    return testsupport::processEffectInBlocks(effect, input, 512);
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A child process with an effect that has dumped twice, so its spare holds the older dump; it
// waits to be killed. Returns its id once the spare is there.
pid_t childWithSpare(const std::vector<float>& input)
{
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0)
    {
        auto host = testsupport::loadPlugin();
        for (int dump = 0; dump < 2; ++dump)
        {
            host->resume();
            testsupport::processInBlocks(*host, input, 512);
            host->suspend();
        }
        const char byte = 1;
        if (::write(ready[1], &byte, 1) == 1) ::pause();
        ::_exit(1);
    }
    char byte = 0;
    ::close(ready[1]);
    const bool ok = child > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!ok && child > 0)
    {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return ok ? child : -1;
}

// Kills and reaps the children it holds however the test ends: a failed assertion must leave no
// process waiting for a kill that never comes.
class Children
{
public:
    ~Children()
    {
        for (const pid_t child : children)
            reap(child);
    }
    pid_t add(pid_t child)
    {
        if (child > 0) children.push_back(child);
        return child;
    }
    void stop(pid_t child)
    {
        reap(child);
        children.erase(std::remove(children.begin(), children.end(), child), children.end());
    }

private:
    static void reap(pid_t child)
    {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    std::vector<pid_t> children;
};

// The spare file of process in folder, or "" when it has none.
std::string spareOf(const std::string& folder, pid_t process)
{
    const std::string prefix = "f0map.txt." + std::to_string(process) + ".";
    DIR* dir = ::opendir(folder.c_str());
    std::string found;
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr)
        if (std::string(entry->d_name).rfind(prefix, 0) == 0) found = entry->d_name;
    if (dir) ::closedir(dir);
    return found;
}
} // namespace

// A host killed while its effect was open leaves its spare dump file; the next effect removes it
// and nothing else: not a running process's spare, not a link named as a spare (nor what it
// points at), not a file that only looks like one, not a spare's name outside the dump folder.
TEST(DumpAndAudio, SparesOfDeadProcessesAreSweptAndNothingElse)
{
    const auto input = testsupport::pulseTrain(170.0, 44100.0, 44100 / 2);
    const std::string cache = freshFolder("sweep");
    const std::string folder = cache + "/halvern";
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    Children children;
    const pid_t killed = children.add(childWithSpare(input));
    const pid_t running = children.add(childWithSpare(input));
    ASSERT_GT(killed, 0);
    ASSERT_GT(running, 0);
    const std::string killedSpare = spareOf(folder, killed);
    const std::string runningSpare = spareOf(folder, running);
    ASSERT_FALSE(killedSpare.empty());
    ASSERT_FALSE(runningSpare.empty());
    children.stop(killed);

    const std::string dead = std::to_string(killed);
    const std::string outside = cache + "/f0map.txt." + dead + ".0.spare";
    const std::string target = cache + "/target";
    std::ofstream(outside) << "x";
    std::ofstream(target) << "x";
    ASSERT_EQ(::symlink(target.c_str(), (folder + "/f0map.txt." + dead + ".9.spare").c_str()), 0);
    for (const char* look : {".1.spare.old", ".x.spare", ".2.tmp~"})
        std::ofstream(folder + "/f0map.txt." + dead + look) << "x";
    std::ofstream(folder + "/other." + dead + ".1.spare") << "x";

    testsupport::loadPlugin()->close();
    const struct
    {
        std::string path;
        bool kept;
    } expected[] = {
        {folder + "/" + killedSpare, false},
        {folder + "/" + runningSpare, true},
        {folder + "/f0map.txt", true},
        {folder + "/f0map.txt." + dead + ".9.spare", true},
        {target, true},
        {outside, true},
        {folder + "/f0map.txt." + dead + ".1.spare.old", true},
        {folder + "/f0map.txt." + dead + ".x.spare", true},
        {folder + "/f0map.txt." + dead + ".2.tmp~", true},
        {folder + "/other." + dead + ".1.spare", true},
    };
    for (const auto& file : expected)
        EXPECT_EQ(fileExists(file.path), file.kept) << file.path;

    // Once the other host is gone too, its spare goes with the next effect.
    children.stop(running);
    testsupport::loadPlugin()->close();
    EXPECT_FALSE(fileExists(folder + "/" + runningSpare));
}

TEST(DumpAndAudio, SpoiledDumpPlacesChangeNothingAndFollowNoLink)
{
    const auto input = testsupport::pulseTrain(170.0, 44100.0, 44100 * 2);
    const char* saved = std::getenv("XDG_CACHE_HOME");
    const std::string savedValue = saved ? saved : "";

    const std::string good = freshFolder("good");
    ::setenv("XDG_CACHE_HOME", good.c_str(), 1);
    const auto reference = render(input);
    ASSERT_FALSE(slurp(good + "/halvern/f0map.txt").empty()); // the dump really was written

    // The cache variable names a plain file.
    const std::string file = freshFolder("file") + "/plain";
    std::ofstream(file) << "x";
    ::setenv("XDG_CACHE_HOME", file.c_str(), 1);
    EXPECT_EQ(render(input), reference);
    EXPECT_EQ(slurp(file), "x");

    // The dump's name is taken by a folder.
    const std::string taken = freshFolder("taken");
    ::mkdir((taken + "/halvern").c_str(), 0700);
    ::mkdir((taken + "/halvern/f0map.txt").c_str(), 0700);
    ::setenv("XDG_CACHE_HOME", taken.c_str(), 1);
    EXPECT_EQ(render(input), reference);

    // A link planted at the dump's name points at a file of the user's: not followed.
    const std::string planted = freshFolder("planted");
    const std::string victim = planted + "/victim.txt";
    std::ofstream(victim) << "precious";
    ::mkdir((planted + "/halvern").c_str(), 0700);
    ASSERT_EQ(::symlink(victim.c_str(), (planted + "/halvern/f0map.txt").c_str()), 0);
    ::setenv("XDG_CACHE_HOME", planted.c_str(), 1);
    EXPECT_EQ(render(input), reference);
    EXPECT_EQ(slurp(victim), "precious");

    // A read-only cache folder (root may still write there; the audio must not care either way).
    const std::string readOnly = freshFolder("readonly");
    ::mkdir((readOnly + "/halvern").c_str(), 0700);
    ::chmod((readOnly + "/halvern").c_str(), 0500);
    ::setenv("XDG_CACHE_HOME", readOnly.c_str(), 1);
    EXPECT_EQ(render(input), reference);
    ::chmod((readOnly + "/halvern").c_str(), 0700);

    if (saved)
        ::setenv("XDG_CACHE_HOME", savedValue.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
}
