// The Linux release archive as a user meets it: scripts/package.sh builds it from this build tree,
// it unpacks into an empty folder, and there the renderer renders the demo take through the
// unpacked VST 2.x plug-in (not the build tree's), lv2ls finds the unpacked LV2 bundle, and both
// give the audio the build tree's plug-ins give. Its install.sh puts them where hosts look.
#include "lv2file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/utsname.h>
#include <vector>

namespace
{

const std::string kOutput = std::string(HALVERN_TEST_OUTPUT_DIR) + "/package";

std::vector<std::string> lines(const std::string& command)
{
    std::vector<std::string> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe))
    {
        std::string text(line);
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        out.push_back(text);
    }
    pclose(pipe);
    return out;
}

int run(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string canonical(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : "";
}

class LinuxArchive : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(run("rm -rf '" + kOutput + "' && mkdir -p '" + kOutput + "/dist' '" + kOutput +
                      "/prefix'"),
                  0);
        utsname machine{};
        uname(&machine);
        folder = std::string("Halvern-" HALVERN_VERSION "-linux-") + machine.machine;
        archive = kOutput + "/dist/" + folder + ".tar.gz";
        const std::string package =
            "HALVERN_BUILD_DIR='" HALVERN_BINARY_DIR "' HALVERN_DIST_DIR='" + kOutput +
            "/dist' '" HALVERN_SOURCE_DIR "/scripts/package.sh' linux";
        ASSERT_EQ(run(package), 0) << package;
        ASSERT_EQ(run("tar -xzf '" + archive + "' -C '" + kOutput + "/prefix'"), 0) << archive;
        ASSERT_EQ(run("'" HALVERN_MAKEDEMO_PATH "' '" + kOutput + "/demo-input.wav' > /dev/null"),
                  0);
    }

    static inline std::string archive;
    static inline std::string folder;
    const std::string prefix = kOutput + "/prefix/" + folder;
};

TEST_F(LinuxArchive, HoldsTheRendererBothPluginsAndTheInstallTextInAPrefixLayout)
{
    std::set<std::string> files;
    for (const std::string& entry : lines("tar -tzf '" + archive + "'"))
        if (entry.back() != '/') files.insert(entry.substr(folder.size() + 1));
    const std::set<std::string> expected = {
        "bin/halvern-render",
        "lib/vst/Halvern.so",
        "lib/lv2/Halvern.lv2/manifest.ttl",
        "lib/lv2/Halvern.lv2/halvern.ttl",
        "lib/lv2/Halvern.lv2/presets.ttl",
        "lib/lv2/Halvern.lv2/halvern.so",
        "lib/lv2/Halvern.lv2/halvern_ui.so",
        "lib/vst/HalvernLive.so",
        "lib/lv2/HalvernLive.lv2/manifest.ttl",
        "lib/lv2/HalvernLive.lv2/halvern_live.ttl",
        "lib/lv2/HalvernLive.lv2/presets.ttl",
        "lib/lv2/HalvernLive.lv2/halvern_live.so",
        "lib/lv2/HalvernLive.lv2/halvern_live_ui.so",
        "INSTALL.txt",
        "install.sh",
    };
    EXPECT_EQ(files, expected);
    const std::string text = contents(prefix + "/INSTALL.txt");
    EXPECT_NE(text.find("Halvern " HALVERN_VERSION), std::string::npos) << text;
    EXPECT_NE(text.find("lv2ls | grep -i halvern"), std::string::npos) << text;
    // the bundle carries the same version
    EXPECT_NE(contents(prefix + "/lib/lv2/Halvern.lv2/halvern.ttl")
                  .find("doap:revision \"" HALVERN_VERSION "\""),
              std::string::npos);
}

TEST_F(LinuxArchive, TheUnpackedRendererRendersTheDemoThroughTheUnpackedPlugin)
{
    const std::string out = kOutput + "/demo-corrected.wav";
    const std::string log = kOutput + "/render-ld.txt";
    ASSERT_EQ(run("LD_DEBUG=files '" + prefix +
                  "/bin/halvern-render' -q --force --scale 'C major' '" + kOutput +
                  "/demo-input.wav' -o '" + out + "' 2> '" + log + "'"),
              0)
        << contents(log);

    // every Halvern.so the process loaded is the unpacked one
    int loaded = 0;
    for (const std::string& line : lines("grep 'file=.*Halvern\\.so' '" + log + "'"))
    {
        const size_t from = line.find("file=") + 5;
        const std::string path = line.substr(from, line.find(' ', from) - from);
        EXPECT_EQ(canonical(path), canonical(prefix + "/lib/vst/Halvern.so")) << line;
        ++loaded;
    }
    EXPECT_GT(loaded, 0) << "the loader did not report the plug-in";

    // the same take through the build tree's renderer and plug-in
    const std::string reference = kOutput + "/demo-corrected-build.wav";
    ASSERT_EQ(run("'" HALVERN_RENDER_PATH "' -q --force --scale 'C major' '" + kOutput +
                  "/demo-input.wav' -o '" + reference + "'"),
              0);
    const std::string rendered = contents(out);
    EXPECT_GT(rendered.size(), 600000u); // about 8 s of 16-bit audio
    EXPECT_TRUE(rendered == contents(reference)) << "the unpacked plug-in renders differently";
}

TEST_F(LinuxArchive, TheUnpackedLv2BundleIsFoundAndRendersAsTheBuildTreesBundle)
{
    const std::string path = prefix + "/lib/lv2";
    const auto listed = lines("LV2_PATH='" + path + "' lv2ls 2>&1 | sort");
    EXPECT_EQ(listed, (std::vector<std::string>{"urn:brakk:halvern", "urn:brakk:halvern-live"}));

    const std::string input = kOutput + "/demo-input.wav";
    auto render = [&](const std::string& lv2Path, const std::string& out)
    {
        const std::string arguments = "--ignore-clipping -i '" + input + "' -o '" + out +
                                      "' -p pitch:-3 -p formant:2 urn:brakk:halvern > /dev/null";
        return run(lv2filetest::lv2fileCommand(lv2Path, arguments));
    };
    ASSERT_EQ(render(path, kOutput + "/lv2-unpacked.wav"), 0);
    ASSERT_EQ(render(HALVERN_LV2_DIR, kOutput + "/lv2-build.wav"), 0);
    const std::string unpacked = contents(kOutput + "/lv2-unpacked.wav");
    EXPECT_GT(unpacked.size(), 600000u);
    EXPECT_TRUE(unpacked == contents(kOutput + "/lv2-build.wav"));
    EXPECT_FALSE(unpacked == contents(input)) << "lv2file passed the take through unchanged";
}

// install.sh as a user runs it, with a HOME of its own: every file lands where hosts look, lv2ls
// finds the bundle there with no LV2_PATH, and the installed renderer uses the installed plug-in.
TEST_F(LinuxArchive, InstallShPutsEachFileWhereHostsFindIt)
{
    const std::string home = kOutput + "/home";
    ASSERT_EQ(run("rm -rf '" + home + "' && mkdir '" + home + "'"), 0);
    const std::string as = "env -u LV2_PATH HOME='" + home + "' ";
    const std::string log = kOutput + "/install.txt";
    ASSERT_EQ(run(as + "'" + prefix + "/install.sh' > '" + log + "' 2>&1"), 0) << contents(log);
    const std::pair<const char*, const char*> placed[] = {
        {"/.lv2/Halvern.lv2/manifest.ttl", "/lib/lv2/Halvern.lv2/manifest.ttl"},
        {"/.lv2/Halvern.lv2/halvern.so", "/lib/lv2/Halvern.lv2/halvern.so"},
        {"/.lv2/Halvern.lv2/halvern_ui.so", "/lib/lv2/Halvern.lv2/halvern_ui.so"},
        {"/.vst/Halvern.so", "/lib/vst/Halvern.so"},
        {"/.lv2/HalvernLive.lv2/halvern_live.so", "/lib/lv2/HalvernLive.lv2/halvern_live.so"},
        {"/.vst/HalvernLive.so", "/lib/vst/HalvernLive.so"},
        {"/.local/bin/halvern-render", "/bin/halvern-render"},
    };
    for (const auto& [installed, unpacked] : placed)
    {
        const std::string file = contents(home + installed);
        EXPECT_FALSE(file.empty()) << installed;
        EXPECT_TRUE(file == contents(prefix + unpacked)) << installed;
    }
    const auto said = lines(as + "'" + home + "/.local/bin/halvern-render' --scale 'C major' '" +
                            kOutput + "/demo-input.wav' -o '" + kOutput + "/installed.wav'");
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0], "plug-in: " + canonical(home + "/.vst/Halvern.so"));

    if (run("command -v lv2ls > /dev/null && command -v lv2info > /dev/null") != 0)
        GTEST_SKIP() << "no lilv-utils";
    EXPECT_NE(contents(log).find("LV2 hosts find urn:brakk:halvern"), std::string::npos)
        << contents(log);
    const auto listed = lines(as + "lv2ls");
    for (const char* uri : {"urn:brakk:halvern", "urn:brakk:halvern-live"})
        EXPECT_NE(std::find(listed.begin(), listed.end(), uri), listed.end()) << uri;
    EXPECT_EQ(lines(as + "lv2info urn:brakk:halvern | sed -n 's/^\\tBundle: *//p'"),
              std::vector<std::string>{"file://" + home + "/.lv2/Halvern.lv2/"});
}

} // namespace
