#include "gdisurface.h"

#include <cstring>

namespace VSTGUI
{
namespace platform
{

namespace
{

using AlphaBlendFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int,
                                         BLENDFUNCTION);
using TransparentBltFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int,
                                             UINT);

struct BlendEntryPoints
{
    AlphaBlendFunction alphaBlend = nullptr;
    TransparentBltFunction transparentBlt = nullptr;
    int32_t holders = 0;
    bool pinned = false; // looked up for drawing without a window: kept for the process
};

BlendEntryPoints& blendEntryPoints()
{
    static BlendEntryPoints entryPoints;
    return entryPoints;
}

// The high bit of GetVersion is set on the Windows 95 family only.
bool isNtFamily()
{
    return (GetVersion() & 0x80000000u) == 0;
}

void takeEntryPoints(HMODULE module)
{
    BlendEntryPoints& e = blendEntryPoints();
    e.alphaBlend = nullptr;
    e.transparentBlt = nullptr;
    if (!module) return;
    // GetProcAddress returns FARPROC; the cast through void (*)() keeps -Wcast-function-type quiet
    e.alphaBlend = reinterpret_cast<AlphaBlendFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "AlphaBlend")));
    if (isNtFamily())
        e.transparentBlt = reinterpret_cast<TransparentBltFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "TransparentBlt")));
}

// For surfaces drawn before any frame window exists (or after the last one went).
const BlendEntryPoints& entryPointsForDrawing()
{
    BlendEntryPoints& e = blendEntryPoints();
    if (!e.alphaBlend && !e.pinned)
    {
        e.pinned = true;
        takeEntryPoints(LoadLibraryA("msimg32.dll"));
    }
    return e;
}

COLORREF colorRef(const CColor& c)
{
    return RGB(c.red, c.green, c.blue);
}

// The part of dest that the picture covers when its pixel source lands on dest's corner, and
// the matching source point.
bool pictureArea(const CRect& dest, const CPoint& source, int32_t width, int32_t height,
                 CRect& area, CPoint& from)
{
    area = CRect(dest.left - source.h, dest.top - source.v, dest.left - source.h + width,
                 dest.top - source.v + height);
    area.bound(dest);
    if (area.isEmpty()) return false;
    from = CPoint(source.h + (area.left - dest.left), source.v + (area.top - dest.top));
    return true;
}

BITMAPINFO bitmapInfo32(int32_t width, int32_t height)
{
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // positive: bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

} // namespace

namespace msimg32
{

HMODULE lookUp()
{
    HMODULE module = LoadLibraryA("msimg32.dll");
    takeEntryPoints(module);
    if (module) ++blendEntryPoints().holders;
    return module;
}

void release(HMODULE module)
{
    if (!module) return;
    BlendEntryPoints& e = blendEntryPoints();
    // Entry points into a library that may now be unloaded must not be called again.
    if (--e.holders <= 0 && !e.pinned)
    {
        e.holders = 0;
        e.alphaBlend = nullptr;
        e.transparentBlt = nullptr;
    }
    FreeLibrary(module);
}

} // namespace msimg32

// ---- pictures

GdiPicture::GdiPicture(int32_t width, int32_t height, bool alpha)
    : w(width > 0 ? width : 0), h(height > 0 ? height : 0), alpha(alpha)
{
    if (w == 0 || h == 0) return;
    dc = CreateCompatibleDC(nullptr);
    if (!dc) return;
    BITMAPINFO info = bitmapInfo32(w, h);
    void* pixels = nullptr;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap || !pixels)
    {
        if (bitmap) DeleteObject(bitmap);
        bitmap = nullptr;
        DeleteDC(dc);
        dc = nullptr;
        return;
    }
    bits = static_cast<uint8_t*>(pixels);
    std::memset(bits, 0, static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    previous = SelectObject(dc, bitmap);
}

GdiPicture::~GdiPicture()
{
    if (dc)
    {
        if (previous) SelectObject(dc, previous);
        DeleteDC(dc);
    }
    if (bitmap) DeleteObject(bitmap);
}

uint8_t* GdiPicture::row(int32_t bottomUpY)
{
    // 32-bit rows need no padding; a bottom-up section keeps the bottom line first
    return bits + static_cast<size_t>(bottomUpY) * static_cast<size_t>(w) * 4;
}

const uint8_t* GdiPicture::row(int32_t bottomUpY) const
{
    return const_cast<GdiPicture*>(this)->row(bottomUpY);
}

void GdiPicture::pixelsChanged()
{
    // GDI may still batch calls that touch the section
    GdiFlush();
}

std::unique_ptr<Picture> createPicture(int32_t width, int32_t height, bool alpha)
{
    if (width <= 0 || height <= 0) return nullptr;
    auto picture = std::make_unique<GdiPicture>(width, height, alpha);
    if (!picture->isValid()) return nullptr;
    return picture;
}

std::unique_ptr<DrawSurface> createImageSurface(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    BITMAPINFO info = bitmapInfo32(width, height);
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap)
    {
        DeleteDC(dc);
        return nullptr;
    }
    return std::make_unique<GdiSurface>(dc, GdiSurface::Release::memory, nullptr, bitmap);
}

// ---- surfaces

GdiSurface::GdiSurface(HDC dc, Release release, HWND window, HBITMAP bitmap)
    : dc(dc), release(release), window(window), bitmap(bitmap)
{
    if (bitmap) previousBitmap = SelectObject(dc, bitmap);
    // everything selected or set from here on is undone by RestoreDC
    savedState = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
}

GdiSurface::~GdiSurface()
{
    if (savedState) RestoreDC(dc, savedState);
    if (pen) DeleteObject(pen);
    if (brush) DeleteObject(brush);
    if (font) DeleteObject(font);
    switch (release)
    {
    case Release::none:
        break;
    case Release::window:
        ReleaseDC(window, dc);
        break;
    case Release::memory:
        if (previousBitmap) SelectObject(dc, previousBitmap);
        DeleteDC(dc);
        if (bitmap) DeleteObject(bitmap);
        break;
    }
}

void GdiSurface::selectPen(const CColor& color, int32_t width, CLineStyle style)
{
    HPEN created = CreatePen(style == kLineOnOffDash ? PS_DASH : PS_SOLID, width, colorRef(color));
    if (!created) return;
    SelectObject(dc, created);
    if (pen) DeleteObject(pen);
    pen = created;
}

void GdiSurface::selectBrush(const CColor& color)
{
    HBRUSH created = CreateSolidBrush(colorRef(color));
    if (!created) return;
    SelectObject(dc, created);
    if (brush) DeleteObject(brush);
    brush = created;
}

void GdiSurface::selectFont(const FontSpec& params)
{
    const BYTE family = params.decorative ? FF_DECORATIVE : FF_SWISS;
    HFONT created = CreateFontA(
        -params.pixelHeight, 0, 0, 0, params.bold ? FW_BOLD : FW_NORMAL, params.italic ? TRUE : FALSE,
        params.underline ? TRUE : FALSE, FALSE, ANSI_CHARSET, OUT_STRING_PRECIS, CLIP_STROKE_PRECIS,
        DEFAULT_QUALITY, VARIABLE_PITCH | family, params.face ? params.face : "Arial");
    if (!created) return;
    SelectObject(dc, created);
    if (font) DeleteObject(font);
    font = created;
}

void GdiSurface::setTextColor(const CColor& color)
{
    SetTextColor(dc, colorRef(color));
}

void GdiSurface::setTextBackground(const CColor& color)
{
    SetBkColor(dc, colorRef(color));
}

void GdiSurface::setClip(const CRect& clip)
{
    HRGN region = clip.isEmpty() ? CreateRectRgn(0, 0, 0, 0)
                                 : CreateRectRgn(clip.left, clip.top, clip.right, clip.bottom);
    if (!region) return;
    SelectClipRgn(dc, region); // the context keeps a copy
    DeleteObject(region);
}

void GdiSurface::moveTo(const CPoint& p)
{
    MoveToEx(dc, p.h, p.v, nullptr);
}

void GdiSurface::lineTo(const CPoint& p)
{
    LineTo(dc, p.h, p.v);
}

void GdiSurface::fillRect(const CRect& r)
{
    if (r.isEmpty() || !brush) return;
    RECT rc{r.left, r.top, r.right, r.bottom};
    FillRect(dc, &rc, brush);
}

void GdiSurface::drawText(const char* text, const CRect& box, CHoriTxtAlign align, bool opaque)
{
    if (!text || !*text) return;
    RECT rc{box.left, box.top, box.right, box.bottom};
    UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    if (align == kCenterText)
        format |= DT_CENTER;
    else if (align == kRightText)
        format |= DT_RIGHT;
    else
        format |= DT_LEFT;
    SetBkMode(dc, opaque ? OPAQUE : TRANSPARENT);
    DrawTextA(dc, text, -1, &rc, format);
    SetBkMode(dc, TRANSPARENT);
}

void GdiSurface::blendPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                              uint8_t alpha)
{
    const auto& p = static_cast<const GdiPicture&>(picture);
    CRect area;
    CPoint from;
    if (!p.isValid() || !pictureArea(dest, source, p.width(), p.height(), area, from)) return;
    const BlendEntryPoints& e = entryPointsForDrawing();
    if (!e.alphaBlend) return;
    BLENDFUNCTION blend;
    blend.BlendOp = AC_SRC_OVER;
    blend.BlendFlags = 0;
    blend.SourceConstantAlpha = alpha;
    blend.AlphaFormat = p.hasAlpha() ? AC_SRC_ALPHA : 0;
    e.alphaBlend(dc, area.left, area.top, area.width(), area.height(), p.source(), from.h, from.v,
                 area.width(), area.height(), blend);
}

void GdiSurface::copyPicture(const Picture& picture, const CRect& dest, const CPoint& source)
{
    const auto& p = static_cast<const GdiPicture&>(picture);
    CRect area;
    CPoint from;
    if (!p.isValid() || !pictureArea(dest, source, p.width(), p.height(), area, from)) return;
    BitBlt(dc, area.left, area.top, area.width(), area.height(), p.source(), from.h, from.v,
           SRCCOPY);
}

void GdiSurface::keyPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                            const CColor& key)
{
    const auto& p = static_cast<const GdiPicture&>(picture);
    CRect area;
    CPoint from;
    if (!p.isValid() || !pictureArea(dest, source, p.width(), p.height(), area, from)) return;
    const int32_t w = area.width();
    const int32_t h = area.height();
    const BlendEntryPoints& e = entryPointsForDrawing();
    if (e.transparentBlt)
    {
        e.transparentBlt(dc, area.left, area.top, w, h, p.source(), from.h, from.v, w, h,
                         colorRef(key));
        return;
    }
    // Without TransparentBlt: a one-bit mask that is set where the source has the key colour,
    // then destination ^ source, & mask, ^ source leaves the destination at the key's pixels.
    HDC maskDC = CreateCompatibleDC(dc);
    HBITMAP mask = CreateBitmap(w, h, 1, 1, nullptr);
    if (maskDC && mask)
    {
        HGDIOBJ oldMask = SelectObject(maskDC, mask);
        const COLORREF oldSourceBk = SetBkColor(p.source(), colorRef(key));
        BitBlt(maskDC, 0, 0, w, h, p.source(), from.h, from.v, SRCCOPY);
        SetBkColor(p.source(), oldSourceBk);
        const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
        const COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255));
        BitBlt(dc, area.left, area.top, w, h, p.source(), from.h, from.v, SRCINVERT);
        BitBlt(dc, area.left, area.top, w, h, maskDC, 0, 0, SRCAND);
        BitBlt(dc, area.left, area.top, w, h, p.source(), from.h, from.v, SRCINVERT);
        SetTextColor(dc, oldText);
        SetBkColor(dc, oldBk);
        SelectObject(maskDC, oldMask);
    }
    if (mask) DeleteObject(mask);
    if (maskDC) DeleteDC(maskDC);
}

void GdiSurface::copyFrom(const DrawSurface& from, const CRect& dest, const CPoint& source)
{
    const auto* other = dynamic_cast<const GdiSurface*>(&from);
    if (!other || dest.isEmpty()) return;
    BitBlt(dc, dest.left, dest.top, dest.width(), dest.height(), other->dc, source.h, source.v,
           SRCCOPY);
}

CColor GdiSurface::pixel(const CPoint& p) const
{
    const COLORREF c = GetPixel(dc, p.h, p.v);
    if (c == CLR_INVALID) return CColor{};
    return CColor{GetRValue(c), GetGValue(c), GetBValue(c), 255};
}

} // namespace platform
} // namespace VSTGUI
