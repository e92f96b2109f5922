// A window, input and clock without any display, driven by the program that uses it (tests).
//
// Input: the window holds a current pointer position and button state. A script of further
// states can be queued; every read of the pointer position takes the next one, and the last one
// is held when the script runs out. A control tracking a press reads the buttons, then the
// pointer, once per poll, so a script that ends with the button up ends the tracking loop.
#pragma once

#include "../platform.h"

#include <cairo.h>

#include <deque>
#include <string>
#include <vector>

namespace VSTGUI
{
namespace platform
{

struct InputState
{
    CPoint where;        // client coordinates
    int32_t buttons = 0; // physical buttons and keys, as a button state word
};

class HeadlessWindow : public Window
{
public:
    HeadlessWindow(const WindowSpec& params, WindowClient& client);
    ~HeadlessWindow() override;

    void* nativeHandle() const override;
    void detachClient() override { client = nullptr; }
    void invalidate(const CRect& r) override;
    void setPosition(const CPoint& topLeftInParent) override;
    CPoint position() const override { return positionInParent; }
    void setSize(int32_t width, int32_t height) override;
    CPoint screenPosition() const override;
    CPoint pointerPosition() override;
    int32_t buttonState() override;
    std::unique_ptr<DrawSurface> createSurface() override;
    std::unique_ptr<DrawSurface> createCompatibleSurface(int32_t width, int32_t height) override;
    void saveCursor() override;
    void setCursor(CCursorType type) override { cursorType = type; }
    void restoreCursor() override { cursorType = savedCursor; }
    void setDropTarget(bool active) override { dropTarget = active; }

    // ---- driven by tests

    // Where the host's parent window (and so this window's origin, at 0, 0 in it) lies on screen.
    void setParentScreenPosition(const CPoint& screen) { parentOnScreen = screen; }
    void setInput(const CPoint& where, int32_t buttons);
    void queueInput(const std::vector<InputState>& script);
    // A button-down message at where with the given state, the script queued for the tracking.
    void press(const CPoint& where, int32_t buttons, const std::vector<InputState>& script = {});
    // A wheel message with the pointer at where (client coordinates).
    void wheel(const CPoint& where, float notches, int32_t buttons = 0);
    // Delivers the pending paint; false when nothing was pending.
    bool paint();
    bool hasPendingPaint() const { return !pending.isEmpty(); }
    // The host destroys its window (and so this one).
    void parentDestroyed();
    int32_t dragEnter(int32_t itemCount, const CPoint& where);
    void drop(const CPoint& where);

    // What the window shows.
    CColor pixel(const CPoint& p) const;
    cairo_surface_t* image() const { return screen; }
    CCursorType cursor() const { return cursorType; }
    bool isDropTarget() const { return dropTarget; }
    const std::string& className() const { return classNameText; }
    const std::string& title() const { return titleText; }
    void* parent() const { return parentWindow; }
    int32_t width() const;
    int32_t height() const;
    // Pointer reads so far, script entries left, and whether a tracking loop ran out of script
    // with the button still down (the window then let go of the button by itself).
    int64_t pointerReads() const { return reads; }
    size_t scriptLeft() const { return script.size(); }
    bool scriptOverrun() const { return overrun; }

    static HeadlessWindow* fromHandle(void* handle);

private:
    WindowClient* client;
    std::string classNameText;
    std::string titleText;
    void* parentWindow;
    cairo_surface_t* screen;
    CRect pending;
    CPoint positionInParent;
    CPoint parentOnScreen;
    InputState current;
    std::deque<InputState> script;
    int64_t reads = 0;
    int32_t idleReads = 0;
    bool overrun = false;
    CCursorType cursorType = kCursorDefault;
    CCursorType savedCursor = kCursorDefault;
    bool dropTarget = false;
};

// Process-wide state of the headless system.
namespace headless
{
void setTicks(uint32_t ms);
void setButtonsSwapped(bool swapped);
int32_t classRegistrations();   // successful registrations so far
int32_t classUnregistrations(); // unregistrations so far
bool isClassRegistered(const std::string& name);
int32_t liveWindows();
} // namespace headless

} // namespace platform
} // namespace VSTGUI
