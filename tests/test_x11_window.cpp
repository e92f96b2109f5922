// The toolkit's frame on the X11 window layer, under a private Xvfb: painting from the back buffer
// on Expose, the paint dispatched while a control tracks, presses with the state they were made
// with, pointer polling, wheel notches at the pointer, swapped buttons, cursors, and windows that
// the host destroys or never had. Every window here is a child of a top-level window this test
// makes, as a host's would be.
// gtest first: Xlib's macros (None, Bool) would break its headers
#include <gtest/gtest.h>

#include "cdrawcontext.h"
#include "cframe.h"
#include "csystem.h"
#include "platform/x11/x11window.h"
#include "xvfbtest.h"

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

using namespace VSTGUI;
using namespace x11test;

namespace
{

constexpr int kTopX = 50;
constexpr int kTopY = 60;
constexpr int kWidth = 200;
constexpr int kHeight = 100;
constexpr uint32_t kFrameColour = 0x204060;
constexpr uint32_t kProbeColour = 0xC03010;
const CRect kProbeBox(20, 20, 60, 60);

CColor colour(uint32_t v)
{
    return CColor{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), 255};
}

struct Press
{
    CPoint where;
    int32_t buttons;
};

// A view that fills its box and records what reaches it. A press with the left button follows
// the pointer until release, the way the controls track.
class Probe : public CView
{
public:
    explicit Probe(const CRect& size) : CView(size) {}

    void draw(CDrawContext* context) override
    {
        context->setFillColor(colour(fill));
        context->fillRect(CRect(size.left - 1, size.top - 1, size.right, size.bottom));
        setDirty(false);
    }

    void mouse(CDrawContext* context, CPoint where, int32_t buttons) override
    {
        presses.push_back({where, buttons});
        if (!(buttons & kLButton) || !track) return;
        for (int polls = 0; polls < 2000 && (context->getMouseButtons() & kLButton); ++polls)
        {
            CPoint p;
            context->getMouseLocation(p);
            if (trail.empty() || trail.back() != p) trail.push_back(p);
            dispatchPendingPaint();
            sleepMilliseconds(4);
        }
    }

    bool onWheel(CDrawContext*, const CPoint& where, float distance) override
    {
        wheels.push_back({where, static_cast<int32_t>(distance)});
        return true;
    }

    uint32_t fill = kProbeColour;
    bool track = false;
    std::vector<Press> presses;
    std::vector<CPoint> trail;
    std::vector<Press> wheels; // buttons field: notches
};

class X11Layer : public XvfbTest
{
protected:
    X11Layer() : XvfbTest("") {}

    void SetUp() override
    {
        XvfbTest::SetUp();
        if (!host) return;
        top = host->createTopLevel(kTopX, kTopY, kWidth, kHeight);
    }

    void TearDown() override
    {
        if (frame) frame->forget();
        frame = nullptr;
        if (host)
        {
            EXPECT_EQ(platform::x11::liveWindows(), 0);
            EXPECT_EQ(EditorHost::xErrors(), errorsBefore) << "X errors reached the host";
        }
        host.reset();
    }

    // A frame in the top-level window with one probe, shown once.
    void openFrame()
    {
        frame = new CFrame(CRect(0, 0, kWidth, kHeight),
                           reinterpret_cast<void*>(static_cast<uintptr_t>(top)), nullptr);
        frame->setBackgroundColor(colour(kFrameColour));
        probe = new Probe(kProbeBox);
        frame->addView(probe);
        ASSERT_NE(window(), nullptr);
        ASSERT_TRUE(idleUntil([&] { return showsFrame(); })) << "the first paint never came";
    }

    platform::X11Window* window() const
    {
        return static_cast<platform::X11Window*>(frame->getPlatformWindow());
    }

    Image screen() { return host->screenshot(kTopX, kTopY, kWidth, kHeight); }

    bool showsFrame()
    {
        const Image s = screen();
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
            {
                const bool inProbe = x >= kProbeBox.left && x < kProbeBox.right &&
                                     y >= kProbeBox.top && y < kProbeBox.bottom;
                if (s.at(x, y) != (inProbe ? kProbeColour : kFrameColour)) return false;
            }
        return true;
    }

    // The host's loop: the frame's idle pass every 10 ms.
    bool idleUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done())
        {
            if (std::chrono::steady_clock::now() >= deadline) return done();
            if (frame) frame->idle();
            while (XPending(host->display()) > 0)
            {
                XEvent e;
                XNextEvent(host->display(), &e);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    void act(const std::string& script)
    {
        std::vector<std::string> argv = {"xdotool"};
        size_t start = 0;
        while (start < script.size())
        {
            size_t end = script.find(' ', start);
            if (end == std::string::npos) end = script.size();
            if (end > start) argv.push_back(script.substr(start, end - start));
            start = end + 1;
        }
        ChildProcess child(argv);
        EXPECT_TRUE(idleUntil([&] { return child.finished(); }, std::chrono::seconds(10)));
        EXPECT_EQ(child.exitCode(), 0) << script;
    }

    static std::string at(int x, int y)
    {
        return std::to_string(kTopX + x) + " " + std::to_string(kTopY + y);
    }

    ::Window top = 0;
    CFrame* frame = nullptr;
    Probe* probe = nullptr;
};

TEST_F(X11Layer, TheFirstPaintComesFromTheExposeReadAtIdle)
{
    frame = new CFrame(CRect(0, 0, kWidth, kHeight),
                       reinterpret_cast<void*>(static_cast<uintptr_t>(top)), nullptr);
    frame->setBackgroundColor(colour(kFrameColour));
    EXPECT_TRUE(frame->isFirstDraw());
    EXPECT_EQ(host->children(top).size(), 1u);
    EXPECT_EQ(platform::x11::liveWindows(), 1);
    ASSERT_TRUE(idleUntil([&] { return !frame->isFirstDraw(); }));
    EXPECT_EQ(screen().at(kWidth / 2, kHeight / 2), kFrameColour);
}

TEST_F(X11Layer, AnUncoveredAreaIsPaintedAgainByOnePendingPaint)
{
    openFrame();
    // A window of the host's over part of the frame, then gone again: the server asks the
    // frame's window to paint the uncovered area.
    const ::Window cover = host->createTopLevel(kTopX + 10, kTopY + 10, 100, 60);
    host->destroyWindow(cover);
    bool dispatched = false;
    ASSERT_TRUE(idleUntil(
        [&]
        {
            // no frame idle here: only the paint dispatch a tracking control would make
            dispatched = dispatched || dispatchPendingPaint();
            return dispatched;
        }));
    EXPECT_TRUE(showsFrame());
    EXPECT_FALSE(dispatchPendingPaint()) << "one uncovering, one paint";
}

TEST_F(X11Layer, AnInvalidatedAreaIsPaintedAtTheNextPass)
{
    openFrame();
    EXPECT_FALSE(dispatchPendingPaint());
    window()->invalidate(CRect(0, 0, 10, 10));
    EXPECT_TRUE(dispatchPendingPaint());
    EXPECT_FALSE(dispatchPendingPaint());
    // outside the window: nothing to paint
    window()->invalidate(CRect(kWidth, kHeight, kWidth + 10, kHeight + 10));
    EXPECT_FALSE(dispatchPendingPaint());
}

TEST_F(X11Layer, DirtyViewsAreRedrawnAtIdle)
{
    openFrame();
    probe->fill = 0x10E020;
    probe->setDirty(true);
    ASSERT_TRUE(idleUntil([&] { return screen().at(30, 30) == 0x10E020; }));
    EXPECT_FALSE(probe->isDirty());
    EXPECT_EQ(screen().at(kProbeBox.left, kProbeBox.top), 0x10E020u);
    EXPECT_EQ(screen().at(kProbeBox.right, kProbeBox.bottom), kFrameColour);
    EXPECT_EQ(screen().at(5, 5), kFrameColour);
}

TEST_F(X11Layer, PressesArriveWithTheStateTheyWereMadeWith)
{
    HALVERN_NEED_XDOTOOL();
    openFrame();
    // a click is over long before the next idle pass reads it
    act("mousemove " + at(30, 40) + " click 1");
    act("mousemove " + at(41, 22) + " keydown shift click 1 keyup shift");
    act("mousemove " + at(60, 60) + " click 3");
    act("mousemove " + at(20, 20) + " keydown ctrl click 2 keyup ctrl");
    ASSERT_TRUE(idleUntil([&] { return probe->presses.size() >= 4; }));
    ASSERT_EQ(probe->presses.size(), 4u);
    EXPECT_EQ(probe->presses[0].where, CPoint(30, 40));
    EXPECT_EQ(probe->presses[0].buttons, kLButton);
    EXPECT_EQ(probe->presses[1].where, CPoint(41, 22));
    EXPECT_EQ(probe->presses[1].buttons, kLButton | kShift);
    EXPECT_EQ(probe->presses[2].where, CPoint(60, 60)); // the edges belong to the view
    EXPECT_EQ(probe->presses[2].buttons, kRButton);
    EXPECT_EQ(probe->presses[3].buttons, kMButton | kControl);
}

TEST_F(X11Layer, APressOutsideEveryViewReachesNone)
{
    HALVERN_NEED_XDOTOOL();
    openFrame();
    act("mousemove " + at(150, 80) + " click 1 mousemove " + at(25, 25) + " click 1");
    ASSERT_TRUE(idleUntil([&] { return !probe->presses.empty(); }));
    ASSERT_EQ(probe->presses.size(), 1u);
    EXPECT_EQ(probe->presses[0].where, CPoint(25, 25));
}

TEST_F(X11Layer, ATrackingViewPollsThePointerUntilRelease)
{
    HALVERN_NEED_XDOTOOL();
    openFrame();
    probe->track = true;
    act("mousemove " + at(30, 30) + " mousedown 1 sleep 0.15 mousemove " + at(90, 70) +
        " sleep 0.15 mousemove " + at(-20, 95) + " sleep 0.15 mouseup 1");
    ASSERT_TRUE(idleUntil([&] { return !probe->presses.empty(); }));
    ASSERT_FALSE(probe->trail.empty());
    // window coordinates, also beyond the view and the window itself
    EXPECT_EQ(probe->trail.front(), CPoint(30, 30));
    EXPECT_NE(std::find(probe->trail.begin(), probe->trail.end(), CPoint(90, 70)),
              probe->trail.end());
    EXPECT_EQ(probe->trail.back(), CPoint(-20, 95));
    EXPECT_EQ(frame->getButtonState() & kLButton, 0);
}

TEST_F(X11Layer, WheelNotchesArriveAtThePointerInTheWindow)
{
    HALVERN_NEED_XDOTOOL();
    openFrame();
    // sideways notches and a notch outside every view come to nothing; the last notch is the
    // sign that everything before it was read
    act("mousemove " + at(33, 44) + " click 6 click 7 click 4 click 5 mousemove " + at(100, 90) +
        " click 4 mousemove " + at(59, 21) + " click 4");
    ASSERT_TRUE(idleUntil([&] { return probe->wheels.size() >= 3; }));
    ASSERT_EQ(probe->wheels.size(), 3u);
    EXPECT_EQ(probe->wheels[0].where, CPoint(33, 44));
    EXPECT_EQ(probe->wheels[0].buttons, 1);
    EXPECT_EQ(probe->wheels[1].where, CPoint(33, 44));
    EXPECT_EQ(probe->wheels[1].buttons, -1);
    EXPECT_EQ(probe->wheels[2].where, CPoint(59, 21));
    EXPECT_EQ(probe->wheels[2].buttons, 1);
}

TEST_F(X11Layer, SwappedButtonsReportThePrimaryButtonAsLeft)
{
    HALVERN_NEED_XDOTOOL();
    ASSERT_TRUE(host->swapButtons(true));
    openFrame();
    act("mousemove " + at(30, 30) + " click 3 click 1");
    const bool both = idleUntil([&] { return probe->presses.size() >= 2; });
    host->swapButtons(false);
    ASSERT_TRUE(both);
    EXPECT_EQ(probe->presses[0].buttons, kLButton);
    EXPECT_EQ(probe->presses[1].buttons, kRButton);
}

TEST_F(X11Layer, CursorsAreSetAndRestoredWithoutErrors)
{
    openFrame();
    const uint64_t swallowed = platform::x11::swallowedErrors();
    for (int type = 0; type <= 10; ++type)
        frame->setCursor(static_cast<CCursorType>(type));
    frame->setCursor(kCursorDefault);
    EXPECT_EQ(platform::x11::swallowedErrors(), swallowed);
}

TEST_F(X11Layer, TheHostDestroyingItsWindowClosesTheFrame)
{
    openFrame();
    host->destroyWindow(top);
    ASSERT_TRUE(idleUntil([&] { return !frame->getOpenFlag(); }));
    EXPECT_EQ(frame->getSystemWindow(), nullptr);
    EXPECT_TRUE(window()->isDestroyed());
    // nothing reaches a window that is gone
    const uint64_t swallowed = platform::x11::swallowedErrors();
    frame->setCursor(kCursorHand);
    CPoint where;
    frame->getCurrentLocation(where);
    frame->updateView();
    EXPECT_EQ(platform::x11::swallowedErrors(), swallowed);
}

TEST_F(X11Layer, AWindowDestroyedBehindTheFramesBackCostsNoHostError)
{
    openFrame();
    host->destroyWindow(top);
    // no idle in between: the frame learns of it only through the errors of its own calls
    frame->updateView();
    frame->setCursor(kCursorWait);
    frame->forget();
    frame = nullptr;
}

TEST_F(X11Layer, AParentThatIsNoWindowGivesAFrameWithoutWindow)
{
    const uint64_t swallowed = platform::x11::swallowedErrors();
    frame = new CFrame(CRect(0, 0, kWidth, kHeight), reinterpret_cast<void*>(0x7fffff0), nullptr);
    EXPECT_EQ(frame->getPlatformWindow(), nullptr);
    EXPECT_GT(platform::x11::swallowedErrors(), swallowed);
    frame->idle();
    EXPECT_TRUE(frame->isFirstDraw());
}

TEST_F(X11Layer, ClassNameFollowsTheModuleAndTheUseCount)
{
    openFrame();
    const std::string name = CFrame::getWindowClassName();
    EXPECT_EQ(name.rfind("Plugin0x", 0), 0u) << name;
    EXPECT_EQ(host->className(window()->xid()), name);
    EXPECT_EQ(host->title(window()->xid()), "Window");
    EXPECT_EQ(CFrame::getWindowClassUseCount(), 1);
    CFrame* second = new CFrame(CRect(0, 0, 10, 10),
                                reinterpret_cast<void*>(static_cast<uintptr_t>(top)), nullptr);
    EXPECT_EQ(CFrame::getWindowClassUseCount(), 2);
    EXPECT_EQ(host->children(top).size(), 2u);
    second->forget();
    EXPECT_EQ(CFrame::getWindowClassUseCount(), 1);
    EXPECT_EQ(host->children(top).size(), 1u);
}

} // namespace
