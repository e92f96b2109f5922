// The plug-in's editor in a Linux host: Halvern.so loaded through VSTPluginMain, its editor opened
// into a top-level window of a private Xvfb and idled every 10 ms, while xdotool clicks, drags
// and turns the wheel from another process. What the host sees (edit gestures, automation,
// parameter texts) and what the screen shows (against the headless drawing of the same
// settings) are judged; X errors, windows, connections and memory are counted across opens.
// gtest first: Xlib's macros (None, Bool) would break its headers
#include <gtest/gtest.h>

#include "render_options.h"
#include "xvfbtest.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <malloc.h>
#include <string>
#include <vector>

using namespace x11test;

namespace
{

// Where the host's window sits on the screen; the editor's points are offset by it.
constexpr int kHostX = 37;
constexpr int kHostY = 23;
constexpr int kWidth = 512;
constexpr int kHeight = 128;

// Knob geometry of the editor's design: the Pitch knob's box is (64, 24)-(104, 64), its value
// runs from 0 at 225 degrees clockwise over the top to 1 at -45 degrees.
constexpr int kPitchCentreX = 84;
constexpr int kPitchCentreY = 44;
constexpr int kFormantCentreX = 84;
constexpr int kFormantCentreY = 92;

double knobValueAt(double degrees)
{
    return (225.0 - degrees) / 270.0;
}

size_t heapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapCountable = false; // the sanitizer's allocator (and its leak check) owns it
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kHeapCountable = false;
#else
constexpr bool kHeapCountable = true;
#endif
#else
constexpr bool kHeapCountable = true;
#endif

std::string xdotoolPoint(int x, int y)
{
    return std::to_string(kHostX + x) + " " + std::to_string(kHostY + y);
}

struct Settings
{
    double pitch = 0.0;
    double formant = 0.0;
    std::string scale; // empty: the plug-in's own switch settings
};

class X11Editor : public XvfbTest
{
protected:
    X11Editor() : XvfbTest(HALVERN_PLUGIN_PATH) {}

    void TearDown() override
    {
        if (!host) return;
        host->closeEditor();
        host->idle();
        EXPECT_EQ(EditorHost::xErrors(), errorsBefore) << "X errors reached the host";
        host.reset();
    }

    // The editor drawn through the headless window with the same settings.
    Image headless(const Settings& s, const std::string& name)
    {
        std::string options =
            "--pitch " + std::to_string(s.pitch) + " --formant " + std::to_string(s.formant);
        if (!s.scale.empty()) options += " --scale '" + s.scale + "'";
        return headlessEditor(options, name);
    }

    void apply(const Settings& s)
    {
        host->plugin().setParameter(render::kPitchParameter, render::semitonesToHostValue(s.pitch));
        host->plugin().setParameter(render::kFormantParameter,
                                    render::semitonesToHostValue(s.formant));
        if (s.scale.empty()) return;
        const render::NoteSet notes = render::parseScale(s.scale);
        host->plugin().setParameter(render::kScaleParameter, 1.0f);
        for (int p = 0; p < 12; ++p)
            host->plugin().setParameter(render::kFirstNoteParameter + p, notes[p] ? 1.0f : 0.0f);
    }

    Image screen() { return host->screenshot(kHostX, kHostY, kWidth, kHeight); }

    // Idles until the window shows expected inside area (all of it by default); on a timeout
    // both pictures are left in the output folder.
    ::testing::AssertionResult showsWithin(const Image& expected, const std::string& name, int x0,
                                           int y0, int x1, int y1)
    {
        return screenShows([this] { return screen(); },
                           [this](const std::function<bool()>& done)
                           { return host->idleUntil(done); },
                           expected, name, "x11", x0, y0, x1, y1);
    }
    ::testing::AssertionResult shows(const Image& expected, const std::string& name)
    {
        return showsWithin(expected, name, 0, 0, kWidth, kHeight);
    }

    ::Window openInNewHostWindow()
    {
        const ::Window top = host->createTopLevel(kHostX, kHostY, kWidth, kHeight);
        EXPECT_EQ(host->openEditor(top), 1);
        return top;
    }

    // Runs an xdotool script while the host idles the editor.
    void act(const std::string& script)
    {
        ChildProcess child(xdotool(script));
        EXPECT_TRUE(host->idleWhile(child)) << "xdotool " << script;
    }
};

TEST_F(X11Editor, OpensAsChildOfTheHostWindowAtItsOriginWithTheClassAndTitle)
{
    const ::Window top = openInNewHostWindow();
    const std::vector<::Window> kids = host->children(top);
    ASSERT_EQ(kids.size(), 1u);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(host->display(), kids[0], &a));
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, 0);
    EXPECT_EQ(a.width, kWidth);
    EXPECT_EQ(a.height, kHeight);
    EXPECT_EQ(a.map_state, IsViewable);

    // "Plugin%p" of the library's load address, as a module handle is printed on Windows.
    Dl_info info;
    ASSERT_TRUE(dladdr(reinterpret_cast<void*>(host->plugin().effect()->dispatcher), &info));
    char expected[64];
    std::snprintf(expected, sizeof expected, "Plugin%p", info.dli_fbase);
    EXPECT_EQ(host->className(kids[0]), expected);
    EXPECT_EQ(host->title(kids[0]), "Window");

    host->closeEditor();
    host->idle();
    EXPECT_TRUE(host->children(top).empty());
}

TEST_F(X11Editor, ScreenMatchesTheHeadlessDrawingOfTheSameSettings)
{
    const Settings s{3.5, -2.0, "A minor"};
    const Image expected = headless(s, "x11-open");
    apply(s);
    openInNewHostWindow();
    EXPECT_TRUE(shows(expected, "x11-open"));
}

TEST_F(X11Editor, ParameterChangesFromTheHostAppearAtTheNextIdle)
{
    openInNewHostWindow();
    ASSERT_TRUE(shows(headless(Settings{}, "x11-before"), "x11-before"));
    const Settings s{-7.0, 4.5, "C major"};
    apply(s);
    EXPECT_TRUE(shows(headless(s, "x11-after"), "x11-after"));
}

TEST_F(X11Editor, ClicksToggleANoteSwitchAndTheScaleSwitchAsEditGestures)
{
    HALVERN_NEED_XDOTOOL();
    openInNewHostWindow();
    ASSERT_TRUE(shows(headless(Settings{}, "x11-click-before"), "x11-click-before"));

    // Note switch E (parameter 7) spans x 256..272, y 48..112; the Scale switch 192..240 x 28..44.
    // A new effect has every note on and Scale off.
    const float noteBefore = host->plugin().getParameter(7);
    const float scaleBefore = host->plugin().getParameter(2);
    ASSERT_EQ(noteBefore, 1.0f);
    ASSERT_EQ(scaleBefore, 0.0f);
    host->plugin().clearHostCalls();
    act("mousemove " + xdotoolPoint(264, 100) + " click 1");
    ASSERT_TRUE(host->idleUntil([&] { return !host->calls(audioMasterEndEdit).empty(); }));
    act("mousemove " + xdotoolPoint(200, 36) + " click 1");
    ASSERT_TRUE(host->idleUntil([&] { return host->calls(audioMasterEndEdit).size() >= 2; }));

    std::vector<PluginHost::HostCall> gestures;
    for (const auto& c : host->plugin().hostCalls())
        if (c.opcode == audioMasterBeginEdit || c.opcode == audioMasterAutomate ||
            c.opcode == audioMasterEndEdit)
            gestures.push_back(c);
    ASSERT_EQ(gestures.size(), 6u);
    const VstInt32 order[] = {audioMasterBeginEdit, audioMasterAutomate, audioMasterEndEdit};
    for (int k = 0; k < 6; ++k)
    {
        EXPECT_EQ(gestures[k].opcode, order[k % 3]) << k;
        EXPECT_EQ(gestures[k].index, k < 3 ? 7 : 2) << k;
    }
    EXPECT_EQ(gestures[1].opt, noteBefore != 0.0f ? 0.0f : 1.0f);
    EXPECT_EQ(gestures[4].opt, scaleBefore != 0.0f ? 0.0f : 1.0f);
    EXPECT_EQ(host->plugin().getParameter(7), noteBefore != 0.0f ? 0.0f : 1.0f);
    EXPECT_EQ(host->plugin().getParameter(2), scaleBefore != 0.0f ? 0.0f : 1.0f);

    // and the lamps show it, as the headless drawing of the new settings does
    Settings after;
    after.scale = "C,C#,D,D#,F,F#,G,G#,A,A#,B";
    EXPECT_TRUE(shows(headless(after, "x11-click-after"), "x11-click-after"));
}

TEST_F(X11Editor, WithSwappedButtonsTheRightHandButtonClicks)
{
    HALVERN_NEED_XDOTOOL();
    ASSERT_TRUE(host->swapButtons(true));
    openInNewHostWindow();
    ASSERT_TRUE(shows(headless(Settings{}, "x11-swapped"), "x11-swapped"));
    host->plugin().clearHostCalls();
    // physical button 1 is now the secondary one: ignored; physical 3 toggles the Scale switch
    act("mousemove " + xdotoolPoint(200, 36) + " click 1 click 3");
    const bool toggled = host->idleUntil([&] { return !host->calls(audioMasterEndEdit).empty(); });
    host->closeEditor();
    host->swapButtons(false);
    ASSERT_TRUE(toggled);
    const auto automated = host->calls(audioMasterAutomate);
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_EQ(automated[0].index, 2);
    EXPECT_EQ(automated[0].opt, 1.0f);
}

TEST_F(X11Editor, DraggingThePitchKnobFollowsThePointerAndTheReadoutFollows)
{
    HALVERN_NEED_XDOTOOL();
    openInNewHostWindow();
    ASSERT_TRUE(shows(headless(Settings{}, "x11-drag-before"), "x11-drag-before"));
    host->plugin().clearHostCalls();

    // Press at the top of the knob (90 degrees), then 45 degrees, then the right (0 degrees).
    const int r = 18;
    const int x45 = kPitchCentreX + static_cast<int>(std::lround(r * std::cos(M_PI / 4)));
    const int y45 = kPitchCentreY - static_cast<int>(std::lround(r * std::sin(M_PI / 4)));
    act("mousemove " + xdotoolPoint(kPitchCentreX, kPitchCentreY - r) + " mousedown 1 sleep 0.3" +
        " mousemove " + xdotoolPoint(x45, y45) + " sleep 0.3 mousemove " +
        xdotoolPoint(kPitchCentreX + r, kPitchCentreY) + " sleep 0.3 mouseup 1");
    ASSERT_TRUE(host->idleUntil([&] { return !host->calls(audioMasterEndEdit).empty(); }));

    const auto calls = host->plugin().hostCalls();
    std::vector<float> values;
    int begins = 0;
    int ends = 0;
    for (const auto& c : calls)
    {
        if (c.opcode == audioMasterBeginEdit)
        {
            EXPECT_EQ(c.index, 0);
            EXPECT_TRUE(values.empty()) << "begin-edit after automation";
            ++begins;
        }
        else if (c.opcode == audioMasterAutomate)
        {
            EXPECT_EQ(c.index, 0);
            EXPECT_EQ(ends, 0) << "automation after end-edit";
            values.push_back(c.opt);
        }
        else if (c.opcode == audioMasterEndEdit)
            ++ends;
    }
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
    // Every position the pointer rested at was followed, in order.
    ASSERT_GE(values.size(), 3u);
    EXPECT_NEAR(values.front(), knobValueAt(90.0), 0.01);
    EXPECT_NEAR(values.back(), knobValueAt(0.0), 0.01);
    bool saw45 = false;
    for (size_t k = 1; k < values.size(); ++k)
    {
        EXPECT_GE(values[k], values[k - 1]);
        saw45 = saw45 || std::fabs(values[k] - knobValueAt(45.0)) < 0.02;
    }
    EXPECT_TRUE(saw45);

    // 0.8333 is +8 semitones; the read-out shows what the effect displays for it
    const std::string display = host->plugin().parameterDisplay(0);
    EXPECT_EQ(display, "+8.0");
    Settings s;
    s.pitch = std::atof(display.c_str());
    EXPECT_TRUE(showsWithin(headless(s, "x11-drag-after"), "x11-drag-after", 112, 42, 144, 54));
}

TEST_F(X11Editor, AWheelNotchMovesAKnobByATenthAndNothingElse)
{
    HALVERN_NEED_XDOTOOL();
    openInNewHostWindow();
    ASSERT_TRUE(shows(headless(Settings{}, "x11-wheel"), "x11-wheel"));
    const float before = host->plugin().getParameter(1);
    host->plugin().clearHostCalls();

    // Sideways buttons and a notch over a switch change nothing; the notch over the Formant knob
    // comes last, so once it arrived the others had been handled.
    act("mousemove " + xdotoolPoint(kFormantCentreX, kFormantCentreY) + " click 6 click 7" +
        " mousemove " + xdotoolPoint(300, 80) + " click 4 mousemove " +
        xdotoolPoint(kFormantCentreX, kFormantCentreY) + " click 4");
    ASSERT_TRUE(host->idleUntil([&] { return !host->calls(audioMasterEndEdit).empty(); }));
    auto automated = host->calls(audioMasterAutomate);
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_EQ(automated[0].index, 1);
    EXPECT_FLOAT_EQ(automated[0].opt, before + 0.1f);
    EXPECT_EQ(host->calls(audioMasterBeginEdit).size(), 1u);

    host->plugin().clearHostCalls();
    act("click 5");
    ASSERT_TRUE(host->idleUntil([&] { return !host->calls(audioMasterEndEdit).empty(); }));
    automated = host->calls(audioMasterAutomate);
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_NEAR(automated[0].opt, before, 1e-6);
}

TEST_F(X11Editor, ArrowKeysFromTheHostMoveTheKnobTouchedLast)
{
    HALVERN_NEED_XDOTOOL();
    openInNewHostWindow();
    ASSERT_TRUE(shows(headless(Settings{}, "x11-keys"), "x11-keys"));
    act("mousemove " + xdotoolPoint(kPitchCentreX, kPitchCentreY - 18) + " click 1");
    ASSERT_TRUE(host->idleUntil([&] { return !host->calls(audioMasterEndEdit).empty(); }));
    const float before = host->plugin().getParameter(0);
    host->plugin().clearHostCalls();
    // virtual key 13: right arrow
    EXPECT_EQ(host->plugin().dispatch(effEditKeyDown, 0, 13, nullptr, 0.0f), 1);
    const auto automated = host->calls(audioMasterAutomate);
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_NEAR(automated[0].opt, before + 0.1f, 0.02); // the effect keeps 10-cent steps
    EXPECT_EQ(host->plugin().dispatch(effEditKeyDown, 0, 1, nullptr, 0.0f), 0);
}

TEST_F(X11Editor, OpeningAndClosingTwentyTimesLeavesNoWindowConnectionOrMemory)
{
    const ::Window top = host->createTopLevel(kHostX, kHostY, kWidth, kHeight);
    const Image expected = headless(Settings{}, "x11-cycles");
    auto cycle = [&](int k)
    {
        EXPECT_EQ(host->openEditor(top), 1);
        EXPECT_TRUE(shows(expected, "x11-cycles")) << "open " << k;
        host->closeEditor();
        host->idle();
        host->plugin().clearHostCalls();
    };
    cycle(0); // caches of fonts and pictures fill once
    const int windows = host->countWindows();
    const int descriptors = openDescriptors();
    const size_t heap = heapInUse();
    for (int k = 1; k <= 20; ++k)
        cycle(k);
    EXPECT_EQ(host->countWindows(), windows);
    EXPECT_TRUE(host->children(top).empty());
    EXPECT_EQ(openDescriptors(), descriptors) << "a display connection was left open";
    if (kHeapCountable)
    {
        EXPECT_LT(heapInUse(), heap + 64 * 1024) << "heap grew by " << heapInUse() - heap;
    }
}

TEST_F(X11Editor, TheHostDestroyingItsWindowFirstLeavesNothingBehind)
{
    const int windows = host->countWindows();
    const int descriptors = openDescriptors();

    // destroyed, then idled: the editor hears of it before it is closed
    ::Window top = openInNewHostWindow();
    host->idle();
    host->destroyWindow(top);
    for (int k = 0; k < 5; ++k)
        host->idle();
    host->closeEditor();
    host->idle();
    EXPECT_EQ(host->countWindows(), windows);

    // destroyed and closed at once
    top = openInNewHostWindow();
    host->idle();
    host->destroyWindow(top);
    host->closeEditor();
    host->idle();
    EXPECT_EQ(host->countWindows(), windows);
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_EQ(EditorHost::xErrors(), errorsBefore);

    // and the editor opens again as new
    top = openInNewHostWindow();
    EXPECT_TRUE(shows(headless(Settings{}, "x11-reopen"), "x11-reopen"));
}

TEST_F(X11Editor, AParentThatIsNoWindowGivesAnEditorWithoutWindowAndNoXError)
{
    const int windows = host->countWindows();
    // an XID that was never created
    EXPECT_EQ(host->plugin().dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(0x7fffff0)), 1);
    host->idle();
    EXPECT_EQ(host->countWindows(), windows);
    host->closeEditor();
}

TEST_F(X11Editor, WithoutADisplayTheEditorOpensWithoutWindow)
{
    const ::Window top = host->createTopLevel(kHostX, kHostY, kWidth, kHeight);
    const std::string display = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    EXPECT_EQ(host->openEditor(top), 1);
    host->idle();
    host->closeEditor();
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_TRUE(host->children(top).empty());
}

} // namespace
