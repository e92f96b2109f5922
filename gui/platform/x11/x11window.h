// The editor's window in Linux hosts: an X11 child window of the host's window, on a display
// connection of its own. The toolkit draws with cairo into its back buffer; Expose events and
// idle redraws copy areas of it onto the window.
//
// Hosts hand over their window's XID as the parent and give the editor idle time, but no event
// loop runs for the plug-in's connection: its events are read in the frame's idle pass
// (pumpEvents) and, while a control tracks the mouse, one pending paint at a time
// (dispatchPendingPaint). Nothing blocks on an event and no thread is started.
//
// X errors go through one process-wide handler. This layer installs its own only around its own
// calls, swallows errors of its own connections there and hands every other error to the handler
// it replaced, so a window the host destroyed first costs nothing but a flag.
//
// Presses are read up to one idle period after they happened, so the button state of the press
// itself (from its event) answers the frame's first read; later reads query the pointer.
//
// User-interface thread only: a window belongs to the thread that created it.
#pragma once

#include "../platform.h"

#include <cairo.h>

#include <cstdint>
#include <memory>

struct _XDisplay;
union _XEvent;

namespace VSTGUI
{
namespace platform
{

namespace x11
{
struct Connection;
}

class X11Window : public Window
{
public:
    // Null when the display cannot be opened or the parent is not a window of it.
    static std::unique_ptr<X11Window> create(const WindowSpec& params, WindowClient& client);
    ~X11Window() override;
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    // The window's XID.
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
    void saveCursor() override {}
    void setCursor(CCursorType type) override;
    void restoreCursor() override;
    // No view of the editor takes drops, so the window does not announce itself to XDND sources:
    // a drag over it stays the host's business. The flag is kept for the frame.
    void setDropTarget(bool active) override { dropTarget = active; }
    // Reads everything pending on the connection and dispatches it; a call made while an event
    // is being handled (a control tracking the mouse) returns at once.
    void pumpEvents() override;

    // Paints what is pending (Expose areas, invalidated areas); false when nothing was.
    bool dispatchPaint();

    unsigned long xid() const;
    _XDisplay* display() const;
    bool isDropTarget() const { return dropTarget; }
    // The system window is gone (the host destroyed its parent).
    bool isDestroyed() const;

private:
    X11Window(const WindowSpec& params, WindowClient& client,
              std::shared_ptr<x11::Connection> connection);
    void handle(const _XEvent& event);
    void addDamage(const CRect& r);
    bool paintDamage();
    int32_t buttonWord(unsigned int mask) const;

    WindowClient* client;
    std::shared_ptr<x11::Connection> connection;
    unsigned long root = 0;
    CPoint positionInParent;
    int32_t width;
    int32_t height;
    CRect damage;
    unsigned char pointerMap[8] = {1, 2, 3, 4, 5, 6, 7, 8}; // logical button of physical 1..8
    bool dispatching = false;
    bool pressStatePending = false;
    int32_t pressState = 0;
    bool dropTarget = false;
    cairo_surface_t* surface = nullptr; // the window as cairo sees it
};

namespace x11
{
// Windows of this layer alive on the calling thread.
int32_t liveWindows();
// X errors this layer met on its own connections and kept from the host, since start.
uint64_t swallowedErrors();
} // namespace x11

} // namespace platform
} // namespace VSTGUI
