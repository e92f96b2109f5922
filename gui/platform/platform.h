// The toolkit's only view of the system beneath it. Each folder next to this header implements a
// part of it: cairo/ the drawing surfaces and pictures, embedded/ the resources linked into the
// library, headless/ a window, input and clock driven by tests. Window layers for real systems
// implement the same declarations; nothing above this folder includes a system header.
#pragma once

#include "../vstguibase.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace VSTGUI
{
namespace platform
{

// A 32-bit picture whose pixels are stored as bytes blue, green, red, alpha, with the colour
// premultiplied by alpha when the picture has alpha (else the alpha byte is ignored).
class Picture
{
public:
    virtual ~Picture() = default;
    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    virtual bool hasAlpha() const = 0;
    // Pixel row y counted from the bottom of the picture (row height - 1 is the top line).
    virtual uint8_t* row(int32_t bottomUpY) = 0;
    virtual const uint8_t* row(int32_t bottomUpY) const = 0;
    // Must follow any writing through row() before the picture is drawn.
    virtual void pixelsChanged() = 0;
};

struct FontSpec
{
    const char* face = "Arial";
    int32_t pixelHeight = 12; // character height, not cell height
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool decorative = false; // decorative family instead of sans-serif
};

// Something to draw on: a window, an offscreen buffer, an image. Coordinates are the surface's
// own pixels. A surface starts without clip, with a transparent text background.
class DrawSurface
{
public:
    virtual ~DrawSurface() = default;

    // Each replaces the object selected before; callers select only on a change.
    virtual void selectPen(const CColor& color, int32_t width, CLineStyle style) = 0;
    virtual void selectBrush(const CColor& color) = 0;
    virtual void selectFont(const FontSpec& font) = 0;
    virtual void setTextColor(const CColor& color) = 0;
    virtual void setTextBackground(const CColor& color) = 0; // used by opaque text

    virtual void setClip(const CRect& clip) = 0;

    // Pen lines: a line starts at the current point and stops one pixel short of its end.
    virtual void moveTo(const CPoint& p) = 0;
    virtual void lineTo(const CPoint& p) = 0;
    // Brush fill of the pixels left .. right - 1 by top .. bottom - 1.
    virtual void fillRect(const CRect& r) = 0;
    // One line of text, vertically centred in box and clipped to it; left alignment starts at
    // box.left exactly. Opaque text fills the cells behind the glyphs with the text background.
    virtual void drawText(const char* text, const CRect& box, CHoriTxtAlign align, bool opaque) = 0;

    // The dest-sized area of picture starting at source, composited at dest: source-over with a
    // constant alpha on top of the picture's own; plain copy; copy leaving out the key colour.
    // Parts of the area outside the picture draw nothing.
    virtual void blendPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                              uint8_t alpha) = 0;
    virtual void copyPicture(const Picture& picture, const CRect& dest, const CPoint& source) = 0;
    virtual void keyPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                            const CColor& key) = 0;
    // Plain copy from another surface of the same kind.
    virtual void copyFrom(const DrawSurface& from, const CRect& dest, const CPoint& source) = 0;

    // Colour of one pixel as the surface holds it (alpha 255 on opaque surfaces).
    virtual CColor pixel(const CPoint& p) const = 0;
};

// What a window reports to its owner. Points are client coordinates unless named screen.
class WindowClient
{
public:
    virtual void windowPaint(DrawSurface& surface, const CRect& updateRect) = 0;
    virtual void windowButtonDown(const CPoint& where) = 0;
    virtual void windowWheel(const CPoint& screenPoint, float notches) = 0;
    virtual void windowDestroyed() = 0;
    // Drop effect answers: 0 none, 2 move.
    virtual int32_t windowDragEnter(int32_t itemCount, const CPoint& where) = 0;
    virtual int32_t windowDragMove(const CPoint& where) = 0;
    virtual void windowDragLeave() = 0;
    virtual void windowDrop(const CPoint& where) = 0;

protected:
    ~WindowClient() = default;
};

struct WindowSpec
{
    const char* className = nullptr;
    const char* title = nullptr;
    void* parent = nullptr; // the host's window
    int32_t width = 0;
    int32_t height = 0;
};

// A child window of the host's window. Destroying the object destroys the system window.
class Window
{
public:
    virtual ~Window() = default;

    virtual void* nativeHandle() const = 0;
    // No more calls into the client from here on.
    virtual void detachClient() = 0;

    virtual void invalidate(const CRect& r) = 0;
    virtual void setPosition(const CPoint& topLeftInParent) = 0;
    virtual CPoint position() const = 0;
    virtual void setSize(int32_t width, int32_t height) = 0;
    // Top-left corner of the client area in screen coordinates.
    virtual CPoint screenPosition() const = 0;

    // Input read at the moment of the call: pointer in screen coordinates, and the physical
    // buttons and keys as a button state word (left and right not yet swapped).
    virtual CPoint pointerPosition() = 0;
    virtual int32_t buttonState() = 0;

    // A surface that draws straight onto the window, and a memory surface to copy to it.
    virtual std::unique_ptr<DrawSurface> createSurface() = 0;
    virtual std::unique_ptr<DrawSurface> createCompatibleSurface(int32_t width, int32_t height) = 0;

    virtual void saveCursor() = 0;
    virtual void setCursor(CCursorType type) = 0;
    virtual void restoreCursor() = 0;

    // Registers (or revokes) the window as a drop target reporting to its client.
    virtual void setDropTarget(bool active) = 0;

    // Called at the start of the frame's idle pass. Systems whose events reach the window only
    // when the plug-in reads them (X11) read and dispatch them here; others have nothing to do.
    virtual void pumpEvents() {}
};

// Window layer.
const void* moduleHandle();
bool registerWindowClass(const char* name); // false when the system refuses
void unregisterWindowClass(const char* name);
bool systemButtonsSwapped();
std::unique_ptr<Window> createChildWindow(const WindowSpec& params, WindowClient& client);
// Removes one pending paint request of any window of this thread and dispatches it.
bool dispatchPendingPaint();

// Set-up of the calling thread that an editor holds for its whole life (OLE on Windows), undone
// when the object is destroyed; null where a system needs none.
class ThreadSetup
{
public:
    virtual ~ThreadSetup() = default;
};
std::unique_ptr<ThreadSetup> setUpEditorThread();

// Clock.
uint32_t tickCount(); // milliseconds since system start, wrapping
void sleepMilliseconds(uint32_t ms);

// Drawing layer.
std::unique_ptr<Picture> createPicture(int32_t width, int32_t height, bool alpha);
std::unique_ptr<DrawSurface> createImageSurface(int32_t width, int32_t height);

// Resources of the module.
bool findResource(int32_t id, const char* type, const uint8_t** data, size_t* size);
std::unique_ptr<Picture> loadBitmapResource(int32_t id); // plain (non-PNG) bitmaps

} // namespace platform
} // namespace VSTGUI
