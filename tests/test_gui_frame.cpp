// The frame: window class rules, painting from the back buffer, idle redraws, routing of
// presses, wheel and keys, focus, cursors and the drop target, over the headless window.
#include "gui_support.h"

#include "csystem.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace VSTGUI;
using namespace guitest;
using platform::headless::classRegistrations;
using platform::headless::classUnregistrations;

namespace
{

const CColor kButtonFace{240, 240, 240, 255};

struct LayoutFixture : FrameFixture
{
    LayoutFixture() : listener(&editor.log), layout(frame, &listener) {}
    TestListener listener;
    EditorLayout layout;
};

class CountingView : public CView
{
public:
    CountingView(const CRect& size, const CColor& colour) : CView(size), colour(colour) {}
    void draw(CDrawContext* context) override
    {
        ++draws;
        context->setFillColor(colour);
        context->fillRect(CRect(size.left - 1, size.top - 1, size.right, size.bottom));
        CView::draw(context);
    }
    int32_t draws = 0;
    CColor colour;
};

CKeyCode key(uint8_t virt, uint8_t modifier = 0)
{
    CKeyCode k;
    k.virt = virt;
    k.modifier = modifier;
    return k;
}

// The background as the window must show it: the file's pixels premultiplied by 255 / 256.
bool showsBackground(platform::HeadlessWindow* window, const CRect& area)
{
    CBitmap* background = new CBitmap(102);
    bool same = true;
    for (int32_t y = area.top; y < area.bottom && same; ++y)
        for (int32_t x = area.left; x < area.right && same; ++x)
            same = window->pixel(CPoint(x, y)) == bitmapPixel(*background, x, y);
    background->forget();
    return same;
}

} // namespace

// ---- window and window class

TEST(FrameWindow, ChildWindowOfTheHostWithTheClassAndTitle)
{
    FrameFixture f;
    ASSERT_NE(f.window, nullptr);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Plugin%p", platform::moduleHandle());
    EXPECT_EQ(f.window->className(), expected);
    EXPECT_STREQ(CFrame::getWindowClassName(), expected);
    EXPECT_EQ(f.window->title(), "Window");
    EXPECT_EQ(f.window->parent(), hostWindow());
    EXPECT_EQ(f.window->width(), 512);
    EXPECT_EQ(f.window->height(), 128);
    EXPECT_TRUE(f.window->isDropTarget());
    EXPECT_TRUE(f.frame->isDropActive());
    EXPECT_TRUE(f.frame->isOpen());
    EXPECT_EQ(f.frame->getSystemWindow(), hostWindow());
    EXPECT_TRUE(f.frame->isTypeOf("CFrame"));
    EXPECT_TRUE(f.frame->isTypeOf("CViewContainer"));
    EXPECT_TRUE(f.frame->isTypeOf("CView"));
    EXPECT_FALSE(f.frame->isTypeOf("CControl"));
    EXPECT_EQ(f.frame->getFrame(), f.frame);
}

TEST(FrameWindow, ClassRegisteredAgainOnlyAfterItsCountFellToZero)
{
    ASSERT_EQ(CFrame::getWindowClassUseCount(), 0);
    const int32_t registered = classRegistrations();
    const int32_t unregistered = classUnregistrations();
    const int32_t windows = platform::headless::liveWindows();

    auto* a = new FrameFixture(false);
    EXPECT_EQ(classRegistrations(), registered + 1);
    auto* b = new FrameFixture(false);
    EXPECT_EQ(classRegistrations(), registered + 1);
    EXPECT_EQ(CFrame::getWindowClassUseCount(), 2);
    EXPECT_EQ(platform::headless::liveWindows(), windows + 2);

    delete a; // closed, another editor still open
    EXPECT_EQ(CFrame::getWindowClassUseCount(), 1);
    EXPECT_EQ(classUnregistrations(), unregistered);
    EXPECT_TRUE(platform::headless::isClassRegistered(CFrame::getWindowClassName()));
    auto* c = new FrameFixture(false); // opened again
    EXPECT_EQ(classRegistrations(), registered + 1);

    delete b;
    delete c;
    EXPECT_EQ(CFrame::getWindowClassUseCount(), 0);
    EXPECT_EQ(classUnregistrations(), unregistered + 1);
    EXPECT_FALSE(platform::headless::isClassRegistered(CFrame::getWindowClassName()));
    EXPECT_EQ(platform::headless::liveWindows(), windows);

    auto* d = new FrameFixture(false);
    EXPECT_EQ(classRegistrations(), registered + 2);
    EXPECT_NE(d->window, nullptr);
    delete d;
}

TEST(FrameWindow, WithoutAParentThereIsNoWindowAndNothingIsDrawn)
{
    TestEditor editor;
    const int32_t registered = classRegistrations();
    CFrame* frame = new CFrame(CRect(0, 0, 512, 128), nullptr, &editor);
    EXPECT_EQ(frame->getPlatformWindow(), nullptr);
    EXPECT_EQ(classRegistrations(), registered);
    EXPECT_EQ(CFrame::getWindowClassUseCount(), 0);
    CountingView* view = new CountingView(CRect(0, 0, 10, 10), kRedCColor);
    frame->addView(view);
    view->setDirty(true);
    frame->idle();
    EXPECT_EQ(view->draws, 0);
    EXPECT_EQ(frame->getButtonState(), 0);
    EXPECT_FALSE(frame->setDropActive(true));
    frame->forget();
}

// ---- painting

TEST(FramePaint, IdleWaitsForTheFirstPaintWhichComesFromTheBackBuffer)
{
    LayoutFixture f;
    EXPECT_TRUE(f.frame->isFirstDraw());
    EXPECT_TRUE(f.frame->isDirty());
    f.frame->idle();
    EXPECT_EQ(f.window->pixel(CPoint(300, 10)), kButtonFace);
    EXPECT_TRUE(f.window->hasPendingPaint());

    EXPECT_TRUE(f.window->paint());
    EXPECT_FALSE(f.window->hasPendingPaint());
    EXPECT_FALSE(f.frame->isFirstDraw());
    EXPECT_TRUE(showsBackground(f.window, CRect(0, 0, 512, 22)));     // title line
    EXPECT_TRUE(showsBackground(f.window, CRect(392, 22, 512, 128))); // right of the keyboard
    EXPECT_TRUE(showsBackground(f.window, CRect(0, 22, 64, 128)));    // captions
    // the back buffer holds the same picture
    COffscreenContext* backBuffer = f.frame->getBackBuffer();
    ASSERT_TRUE(backBuffer->isValid());
    for (CPoint p : {CPoint(5, 5), CPoint(200, 103), CPoint(84, 44), CPoint(128, 48)})
        EXPECT_EQ(backBuffer->getSurface()->pixel(p), f.window->pixel(p)) << p.h << ", " << p.v;
    if (!showsBackground(f.window, CRect(0, 0, 512, 22)))
        saveImage(f.window->image(), "frame_first_paint");
}

TEST(FramePaint, ALaterPaintShowsWhatIdleDrew)
{
    LayoutFixture f;
    ASSERT_TRUE(dispatchPendingPaint());
    EXPECT_FALSE(dispatchPendingPaint());
    f.layout.notes[11]->setValue(1.0f);
    f.frame->idle();
    const CPoint lamp(192 + 16 * 11 + 8, 103);
    EXPECT_EQ(f.window->pixel(lamp), kGreen254);
    // a paint from the back buffer brings back the same window, not an older one
    cairo_t* cr = cairo_create(f.window->image());
    cairo_set_source_rgb(cr, 1, 0, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
    f.window->invalidate(CRect(0, 0, 512, 128));
    ASSERT_TRUE(f.window->paint());
    EXPECT_EQ(f.window->pixel(lamp), kGreen254);
    EXPECT_TRUE(showsBackground(f.window, CRect(392, 22, 512, 128)));
}

TEST(FramePaint, IdleRedrawsOnlyWhatIsDirty)
{
    FrameFixture f;
    CountingView* left = new CountingView(CRect(10, 30, 40, 60), kRedCColor);
    CountingView* right = new CountingView(CRect(300, 30, 340, 60), kWhiteCColor);
    f.frame->addView(left);
    f.frame->addView(right);
    ASSERT_TRUE(f.window->paint());
    EXPECT_EQ(left->draws, 1);
    EXPECT_EQ(right->draws, 1);
    f.frame->idle();
    EXPECT_EQ(left->draws, 1);
    right->setDirty(true);
    EXPECT_TRUE(f.frame->isDirty());
    f.frame->idle();
    EXPECT_EQ(left->draws, 1);
    EXPECT_EQ(right->draws, 2);
    EXPECT_FALSE(f.frame->isDirty());
    EXPECT_EQ(f.window->pixel(CPoint(320, 45)), kWhiteCColor);

    f.frame->invalidate(CRect(0, 0, 10, 30)); // touches the left view's corner
    EXPECT_TRUE(left->isDirty());
    EXPECT_FALSE(right->isDirty());
    f.frame->setInDraw(true);
    f.frame->idle();
    EXPECT_EQ(left->draws, 1);
    f.frame->setInDraw(false);
    f.frame->idle();
    EXPECT_EQ(left->draws, 2);
}

TEST(FramePaint, UpdateViewDrawsAtOnceIntoWindowAndBackBuffer)
{
    FrameFixture f;
    CountingView* view = new CountingView(CRect(300, 30, 340, 60), kWhiteCColor);
    f.frame->addView(view);
    ASSERT_TRUE(f.window->paint());
    view->colour = kRedCColor;
    f.frame->updateView(view);
    EXPECT_EQ(f.window->pixel(CPoint(320, 45)), kRedCColor);
    EXPECT_EQ(f.frame->getBackBuffer()->getSurface()->pixel(CPoint(320, 45)), kRedCColor);
    EXPECT_TRUE(showsBackground(f.window, CRect(300, 0, 340, 30)));
}

TEST(FramePaint, HostDestroyingItsWindowStopsTheRedraws)
{
    FrameFixture f;
    CountingView* view = new CountingView(CRect(300, 30, 340, 60), kWhiteCColor);
    f.frame->addView(view);
    ASSERT_TRUE(f.window->paint());
    f.window->parentDestroyed();
    EXPECT_FALSE(f.frame->isOpen());
    EXPECT_EQ(f.frame->getSystemWindow(), nullptr);
    view->setDirty(true);
    f.frame->idle();
    EXPECT_EQ(view->draws, 1);
}

// ---- input routing and focus

TEST(FrameInput, AClickOnTheBackgroundClearsTheFocus)
{
    LayoutFixture f;
    f.window->press(CPoint(84, 24), kLButton, {{CPoint(84, 24), 0}});
    ASSERT_EQ(f.frame->getFocusView(), f.layout.pitch);
    f.window->press(CPoint(300, 120), kLButton);
    EXPECT_EQ(f.frame->getFocusView(), nullptr);
    CKeyCode right = key(kKeyRight);
    const float before = f.layout.pitch->getValue();
    EXPECT_EQ(f.frame->onKeyDown(right), -1);
    EXPECT_EQ(f.layout.pitch->getValue(), before);
    EXPECT_EQ(f.frame->onKeyUp(right), -1);
}

TEST(FrameInput, TabMovesTheFocusWithoutWrappingAround)
{
    LayoutFixture f;
    CKeyCode tab = key(kKeyTab);
    CKeyCode backTab = key(kKeyTab, kKeyModifierShift);
    EXPECT_EQ(f.frame->onKeyDown(tab), 1);
    EXPECT_EQ(f.frame->getFocusView(), f.layout.pitch);
    EXPECT_EQ(f.frame->onKeyDown(tab), 1);
    EXPECT_EQ(f.frame->getFocusView(), f.layout.formant);
    EXPECT_EQ(f.frame->onKeyDown(tab), -1); // read-outs and switches do not take it
    EXPECT_EQ(f.frame->getFocusView(), nullptr);
    EXPECT_EQ(f.frame->onKeyDown(tab), 1);
    EXPECT_EQ(f.frame->getFocusView(), f.layout.pitch);
    EXPECT_EQ(f.frame->onKeyDown(backTab), -1);
    EXPECT_EQ(f.frame->getFocusView(), nullptr);
    EXPECT_EQ(f.frame->onKeyDown(backTab), 1);
    EXPECT_EQ(f.frame->getFocusView(), f.layout.formant);
}

TEST(FrameInput, FocusChangesMarkTheKnobsForARedraw)
{
    LayoutFixture f;
    ASSERT_TRUE(f.window->paint());
    f.frame->setFocusView(f.layout.pitch);
    EXPECT_TRUE(f.layout.pitch->isDirty());
    f.frame->idle();
    EXPECT_FALSE(f.layout.pitch->isDirty());
    f.frame->setFocusView(f.layout.notes[0]); // a switch: only the old focus is marked
    EXPECT_TRUE(f.layout.pitch->isDirty());
    EXPECT_FALSE(f.layout.notes[0]->isDirty());
}

TEST(FrameInput, RemovingTheFocusViewClearsTheFocus)
{
    LayoutFixture f;
    f.frame->setFocusView(f.layout.formant);
    f.frame->removeView(f.layout.formant);
    EXPECT_EQ(f.frame->getFocusView(), nullptr);
    CKeyCode right = key(kKeyRight);
    EXPECT_EQ(f.frame->onKeyDown(right), -1);
}

TEST(FrameInput, AModalViewTakesThePressesAndKeepsTheFocusStill)
{
    LayoutFixture f;
    EXPECT_TRUE(f.frame->setModalView(f.layout.scale));
    EXPECT_FALSE(f.frame->setModalView(f.layout.notes[0]));
    f.window->press(CPoint(84, 24), kLButton, {{CPoint(84, 24), 0}});
    EXPECT_EQ(f.layout.pitch->getValue(), 0.0f);
    f.window->press(CPoint(200, 36), kLButton);
    EXPECT_EQ(f.layout.scale->getValue(), 1.0f);
    EXPECT_EQ(f.frame->getFocusView(), f.layout.scale); // its edit made it the focus
    f.frame->setFocusView(nullptr);
    EXPECT_FALSE(f.frame->advanceNextFocusView(nullptr));
    EXPECT_TRUE(f.frame->setModalView(nullptr));
    EXPECT_TRUE(f.frame->advanceNextFocusView(nullptr));
    EXPECT_EQ(f.frame->getFocusView(), f.layout.pitch);
}

TEST(FrameInput, WheelOnlyMovesKnobsWhereverTheWindowSits)
{
    LayoutFixture f;
    f.window->setParentScreenPosition(CPoint(700, 450));
    f.layout.notes[0]->setValue(1.0f);
    f.layout.scale->setValue(0.0f);
    f.window->wheel(CPoint(200, 80), 1.0f);  // note switch
    f.window->wheel(CPoint(200, 36), -1.0f); // Scale switch
    f.window->wheel(CPoint(128, 48), 1.0f);  // read-out
    f.window->wheel(CPoint(300, 120), 1.0f); // background
    EXPECT_EQ(f.layout.notes[0]->getValue(), 1.0f);
    EXPECT_EQ(f.layout.scale->getValue(), 0.0f);
    EXPECT_TRUE(f.listener.values.empty());
    EXPECT_FALSE(f.frame->onWheel(nullptr, CPoint(200, 80), 1.0f));
    f.window->wheel(CPoint(104, 64), 2.0f); // the pitch knob's bottom-right corner
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.2f, 1e-6f);
    EXPECT_EQ(f.layout.formant->getValue(), 0.0f);
}

TEST(FrameInput, PointerLocationIsRelativeToTheWindow)
{
    FrameFixture f;
    f.window->setParentScreenPosition(CPoint(300, 200));
    f.window->setInput(CPoint(10, 20), 0);
    CPoint where;
    EXPECT_TRUE(f.frame->getCurrentLocation(where));
    EXPECT_EQ(where, CPoint(10, 20));
    EXPECT_EQ(f.window->pointerPosition(), CPoint(310, 220));
    EXPECT_TRUE(f.frame->setPosition(5, 7)); // inside the host's window
    EXPECT_EQ(f.window->screenPosition(), CPoint(305, 207));
    f.window->setInput(CPoint(1, 2), 0);
    EXPECT_EQ(f.window->pointerPosition(), CPoint(306, 209));
    EXPECT_TRUE(f.frame->getCurrentLocation(where));
    EXPECT_EQ(where, CPoint(1, 2));
    int32_t x = 0, y = 0;
    EXPECT_TRUE(f.frame->getPosition(x, y));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 7);
}

TEST(FrameInput, SwappedButtonsReportTheRightButtonAsTheLeft)
{
    ASSERT_EQ(CFrame::getWindowClassUseCount(), 0);
    platform::headless::setButtonsSwapped(true);
    {
        LayoutFixture f; // the swap is read when the class is registered
        f.window->setInput(CPoint(0, 0), kRButton | kShift);
        EXPECT_EQ(f.frame->getButtonState(), kLButton | kShift);
        f.window->press(CPoint(200, 80), kRButton);
        EXPECT_EQ(f.layout.notes[0]->getValue(), 1.0f);
        f.window->press(CPoint(200, 80), kLButton);
        EXPECT_EQ(f.layout.notes[0]->getValue(), 1.0f);
    }
    platform::headless::setButtonsSwapped(false);
    LayoutFixture g;
    g.window->press(CPoint(200, 80), kLButton);
    EXPECT_EQ(g.layout.notes[0]->getValue(), 1.0f);
}

// ---- editor link, cursor, drop target, size

TEST(FrameEditorLink, TicksKnobModeAndEditGesturesGoToTheEditor)
{
    FrameFixture f;
    platform::headless::setTicks(123456);
    EXPECT_EQ(f.frame->getTicks(), 123456u);
    EXPECT_EQ(getTickCount(), 123456u);
    sleepMilliseconds(4);
    EXPECT_EQ(getTickCount(), 123460u);
    f.editor.knobMode = 2;
    EXPECT_EQ(f.frame->getKnobMode(), 2);
    f.frame->beginEdit(5);
    f.frame->endEdit(5);
    f.frame->doIdleStuff();
    EXPECT_EQ(f.editor.log, (std::vector<std::string>{"begin 5", "end 5", "idle"}));
    EXPECT_EQ(f.frame->getEditor(), &f.editor);

    CFrame* lone = new CFrame(CRect(0, 0, 10, 10), nullptr, nullptr);
    EXPECT_EQ(lone->getTicks(), 0u);
    EXPECT_EQ(lone->getKnobMode(), 0);
    lone->forget();
}

TEST(FrameEditorLink, CursorTypesAndTheSavedCursor)
{
    FrameFixture f;
    f.frame->setCursor(kCursorHand);
    EXPECT_EQ(f.window->cursor(), kCursorHand);
    f.frame->setCursor(kCursorWait);
    EXPECT_EQ(f.window->cursor(), kCursorWait);
    f.frame->setCursor(static_cast<CCursorType>(7));
    EXPECT_EQ(f.window->cursor(), kCursorDefault);
    f.frame->setCursor(kCursorNWSESize);
    EXPECT_EQ(f.window->cursor(), kCursorNWSESize);
}

TEST(FrameEditorLink, DropTargetAcceptsNothing)
{
    LayoutFixture f;
    EXPECT_EQ(f.window->dragEnter(3, CPoint(84, 44)), 2);
    f.window->drop(CPoint(84, 44));
    EXPECT_EQ(f.layout.pitch->getValue(), 0.0f);
    EXPECT_TRUE(f.listener.values.empty());
    EXPECT_TRUE(f.frame->setDropActive(false));
    EXPECT_FALSE(f.window->isDropTarget());
    EXPECT_EQ(f.window->dragEnter(1, CPoint(84, 44)), 0);
}

TEST(FrameEditorLink, SizeChangesTheWindowAndTheBackBuffer)
{
    FrameFixture f;
    ASSERT_TRUE(f.window->paint());
    EXPECT_TRUE(f.frame->setSize(256, 64));
    CRect size;
    EXPECT_TRUE(f.frame->getCurrentSize(&size));
    EXPECT_EQ(size, CRect(0, 0, 256, 64));
    EXPECT_EQ(f.window->width(), 256);
    EXPECT_FALSE(f.frame->setSize(0, 10));
    ASSERT_TRUE(f.window->paint());
    EXPECT_EQ(f.frame->getBackBuffer()->getWidth(), 256);
    EXPECT_TRUE(showsBackground(f.window, CRect(0, 0, 256, 64)));
}
