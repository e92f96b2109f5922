// A test fixture sharing one private Xvfb per suite: each test gets a host connected to it, and
// is skipped (not failed) only when Xvfb is not installed.
#pragma once

// gtest first: Xlib's macros (None, Bool) would break its headers
#include <gtest/gtest.h>

#include "editorhost.h"
#include "xserver.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

// Skips the calling test (a macro, so the skip returns from the test body itself) when xdotool is
// not installed.
#define HALVERN_NEED_XDOTOOL()                                                                     \
    if (!x11test::programInstalled("xdotool"))                                                     \
    GTEST_SKIP() << "xdotool is not installed (scripts/install-deps.sh installs it)"

namespace x11test
{

// Where a test leaves the pictures it compared.
inline std::string outputPath(const std::string& name)
{
    return std::string(HALVERN_TEST_OUTPUT_DIR) + "/" + name;
}

#ifdef HALVERN_EDITOR_PNG_TOOL
// The editor as halvern-editor-png draws it through the headless window with the given options,
// kept as <name>-headless.png.
inline Image headlessEditor(const std::string& options, const std::string& name)
{
    const std::string path = outputPath(name + "-headless.png");
    const std::string command = std::string("'") + HALVERN_EDITOR_PNG_TOOL + "' --force -o '" +
                                path + "' " + options + " > /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readPng(path);
}
#endif

// Idles (through idleUntil) until screen() shows expected inside [x0, x1) x [y0, y1). On a
// timeout the screen is left as <name>-<layer>.png beside the expected picture.
inline ::testing::AssertionResult
screenShows(const std::function<Image()>& screen,
            const std::function<bool(const std::function<bool()>&)>& idleUntil,
            const Image& expected, const std::string& name, const std::string& layer, int x0,
            int y0, int x1, int y1)
{
    if (expected.width < x1 || expected.height < y1)
        return ::testing::AssertionFailure() << "no headless picture";
    int differing = -1;
    idleUntil(
        [&]
        {
            differing = screen().differences(expected, x0, y0, x1, y1);
            return differing == 0;
        });
    if (differing == 0) return ::testing::AssertionSuccess();
    screen().writePng(outputPath(name + "-" + layer + ".png"));
    return ::testing::AssertionFailure()
           << differing << " pixels differ from the headless drawing (" << name << "-" << layer
           << ".png and " << name << "-headless.png in " << HALVERN_TEST_OUTPUT_DIR << ")";
}

class XvfbTest : public ::testing::Test
{
protected:
    // pluginPath: the plug-in the host loads, empty for none.
    explicit XvfbTest(std::string pluginPath) : pluginPath(std::move(pluginPath)) {}

    static void SetUpTestSuite()
    {
        if (!programInstalled("Xvfb")) return;
        server = new XServer();
        if (server->running()) setenv("DISPLAY", server->displayName().c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    // Leaves host null when the test was skipped or failed; derived SetUps check it.
    void SetUp() override
    {
        if (!programInstalled("Xvfb"))
            GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(server && server->running()) << "Xvfb did not start: " << server->failure();
        host = std::make_unique<EditorHost>(server->displayName(), pluginPath);
        errorsBefore = EditorHost::xErrors();
    }

    static inline XServer* server = nullptr;
    std::unique_ptr<EditorHost> host;
    int errorsBefore = 0;

private:
    std::string pluginPath;
};

} // namespace x11test
