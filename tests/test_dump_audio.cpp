// However the diagnostic dump's place is spoiled, the audio is the same and no link is followed.
#include "testsupport.h"
#include "vexilvst.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
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

std::string freshFolder(const std::string& name)
{
    const std::string path = std::string(HALVERN_TEST_OUTPUT_DIR) + "/dumpaudio_" + name;
    std::system(("rm -rf '" + path + "'").c_str());
    ::mkdir(path.c_str(), 0700);
    return path;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
} // namespace

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
