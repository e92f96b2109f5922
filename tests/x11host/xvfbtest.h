// A test fixture sharing one private Xvfb per suite: each test gets a host connected to it, and
// is skipped (not failed) only when Xvfb is not installed.
#pragma once

// gtest first: Xlib's macros (None, Bool) would break its headers
#include <gtest/gtest.h>

#include "editorhost.h"
#include "xserver.h"

#include <cstdlib>
#include <memory>
#include <string>

// Skips the calling test (a macro, so the skip returns from the test body itself) when xdotool is
// not installed.
#define HALVERN_NEED_XDOTOOL()                                                                     \
    if (!x11test::programInstalled("xdotool"))                                                     \
    GTEST_SKIP() << "xdotool is not installed (scripts/install-deps.sh installs it)"

namespace x11test
{

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
