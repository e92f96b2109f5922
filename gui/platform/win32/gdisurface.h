// GDI drawing: device contexts of windows and memory surfaces, and pictures held in
// device-independent bitmaps (32 bits, bottom-up, premultiplied blue, green, red, alpha).
// AlphaBlend and TransparentBlt come from msimg32.dll, looked up at run time, never imported.
#pragma once

#include "../platform.h"

#include <windows.h>

namespace VSTGUI
{
namespace platform
{

class GdiPicture : public Picture
{
public:
    // Zeroed pixels; check isValid().
    GdiPicture(int32_t width, int32_t height, bool alpha);
    ~GdiPicture() override;
    GdiPicture(const GdiPicture&) = delete;
    GdiPicture& operator=(const GdiPicture&) = delete;

    bool isValid() const { return bitmap != nullptr && dc != nullptr; }
    int32_t width() const override { return w; }
    int32_t height() const override { return h; }
    bool hasAlpha() const override { return alpha; }
    uint8_t* row(int32_t bottomUpY) override;
    const uint8_t* row(int32_t bottomUpY) const override;
    void pixelsChanged() override;

    // A memory context that holds the picture's bitmap for its whole life.
    HDC source() const { return dc; }

private:
    int32_t w;
    int32_t h;
    bool alpha;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    HDC dc = nullptr;
    uint8_t* bits = nullptr;
};

class GdiSurface : public DrawSurface
{
public:
    // How the device context came and how it goes back when the surface is destroyed.
    enum class Release
    {
        none,   // borrowed (a paint context between BeginPaint and EndPaint)
        window, // GetDC of window: ReleaseDC
        memory, // a memory context with bitmap selected: both deleted
    };
    GdiSurface(HDC dc, Release release, HWND window = nullptr, HBITMAP bitmap = nullptr);
    ~GdiSurface() override;
    GdiSurface(const GdiSurface&) = delete;
    GdiSurface& operator=(const GdiSurface&) = delete;

    void selectPen(const CColor& color, int32_t width, CLineStyle style) override;
    void selectBrush(const CColor& color) override;
    void selectFont(const FontSpec& font) override;
    void setTextColor(const CColor& color) override;
    void setTextBackground(const CColor& color) override;
    void setClip(const CRect& clip) override;
    void moveTo(const CPoint& p) override;
    void lineTo(const CPoint& p) override;
    void fillRect(const CRect& r) override;
    void drawText(const char* text, const CRect& box, CHoriTxtAlign align, bool opaque) override;
    void blendPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                      uint8_t alpha) override;
    void copyPicture(const Picture& picture, const CRect& dest, const CPoint& source) override;
    void keyPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                    const CColor& key) override;
    void copyFrom(const DrawSurface& from, const CRect& dest, const CPoint& source) override;
    CColor pixel(const CPoint& p) const override;

    HDC deviceContext() const { return dc; }

private:
    HDC dc;
    Release release;
    HWND window;
    HBITMAP bitmap;
    HGDIOBJ previousBitmap = nullptr;
    int savedState = 0;
    HPEN pen = nullptr;
    HBRUSH brush = nullptr;
    HFONT font = nullptr;
};

// Process-wide entry points of msimg32.dll. Each frame window looks them up afresh and holds the
// library while it lives; drawing without any window looks them up once for the process.
namespace msimg32
{
// Clears both entry points, loads the library and takes AlphaBlend, and TransparentBlt on the
// NT family. The handle goes back to release().
HMODULE lookUp();
// Frees the library; the entry points are cleared when no holder is left.
void release(HMODULE module);
} // namespace msimg32

} // namespace platform
} // namespace VSTGUI
