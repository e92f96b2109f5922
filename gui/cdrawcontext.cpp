#include "cdrawcontext.h"

#include "cframe.h"
#include "platform/platform.h"

namespace VSTGUI
{

namespace
{

struct FontTableEntry
{
    const char* face;
    int32_t height; // pixels
};

const FontTableEntry fontTable[kNumStandardFonts] = {
    {"Arial", 12}, {"Arial", 18}, {"Arial", 14}, {"Arial", 12},
    {"Arial", 11}, {"Arial", 10}, {"Arial", 9},  {"Symbol", 13},
};

int32_t knownFont(int32_t fontID)
{
    return fontID >= 0 && fontID < kNumStandardFonts ? fontID : kSystemFont;
}

} // namespace

CDrawContext::CDrawContext(CFrame* frame, platform::DrawSurface* surface, platform::Window* window)
    : frame(frame), surface(surface), window(window)
{
    if (!surface && window)
    {
        ownedSurface = window->createSurface();
        this->surface = ownedSurface.get();
    }
    if (window) offsetScreen = window->screenPosition();
    clipRect = frame ? frame->getViewSize() : CRect(0, 0, 1000, 1000);
    applyDefaults();
}

CDrawContext::~CDrawContext() = default;

void CDrawContext::adoptSurface(std::unique_ptr<platform::DrawSurface> owned)
{
    ownedSurface = std::move(owned);
    surface = ownedSurface.get();
    havePen = haveBrush = haveFont = false;
    applyDefaults();
}

void CDrawContext::applyDefaults()
{
    setFrameColor(kWhiteCColor);
    setLineStyle(kLineSolid);
    setLineWidth(1);
    setFillColor(kBlackCColor);
    setFontColor(kWhiteCColor);
    setFont(kSystemFont);
    setDrawMode(kCopyMode);
}

void CDrawContext::makePen()
{
    havePen = true;
    if (!surface) return;
    surface->selectPen(frameColor, frameWidth, lineStyle);
    ++createdObjects;
}

void CDrawContext::setLineStyle(CLineStyle style)
{
    if (havePen && style == lineStyle) return;
    lineStyle = style;
    makePen();
}

void CDrawContext::setLineWidth(int32_t width)
{
    if (havePen && width == frameWidth) return;
    frameWidth = width;
    makePen();
}

void CDrawContext::setFrameColor(const CColor& color)
{
    if (havePen && color == frameColor) return;
    frameColor = color;
    makePen();
}

void CDrawContext::setFillColor(const CColor& color)
{
    if (haveBrush && color == fillColor) return;
    fillColor = color;
    haveBrush = true;
    if (!surface) return;
    surface->selectBrush(color);
    surface->setTextBackground(color);
    ++createdObjects;
}

void CDrawContext::setFontColor(const CColor& color)
{
    fontColor = color;
    if (surface) surface->setTextColor(color);
}

void CDrawContext::setFont(int32_t fontID, int32_t /*size*/, int32_t style)
{
    fontID = knownFont(fontID);
    if (haveFont && fontID == fontId && style == fontStyle) return;
    fontId = fontID;
    fontStyle = style;
    haveFont = true;
    if (!surface) return;
    platform::FontSpec params;
    params.face = fontTable[fontID].face;
    params.pixelHeight = fontTable[fontID].height;
    params.bold = (style & kBoldFace) != 0 || fontID == kSystemFont;
    params.italic = (style & kItalicFace) != 0;
    params.underline = (style & kUnderlineFace) != 0;
    params.decorative = fontID == kSymbolFont;
    surface->selectFont(params);
    ++createdObjects;
}

int32_t CDrawContext::getFontSize() const
{
    return fontTable[fontId].height;
}

void CDrawContext::moveTo(const CPoint& point)
{
    penPosition = point;
    if (surface) surface->moveTo(CPoint(point).offset(offset.h, offset.v));
}

void CDrawContext::lineTo(const CPoint& point)
{
    penPosition = point;
    if (surface) surface->lineTo(CPoint(point).offset(offset.h, offset.v));
}

void CDrawContext::drawRect(const CRect& rect)
{
    moveTo(CPoint(rect.left, rect.top));
    lineTo(CPoint(rect.right - 1, rect.top));
    lineTo(CPoint(rect.right - 1, rect.bottom - 1));
    lineTo(CPoint(rect.left, rect.bottom - 1));
    lineTo(CPoint(rect.left, rect.top));
}

void CDrawContext::fillRect(const CRect& rect)
{
    if (!surface) return;
    CRect r(rect.left + 1, rect.top + 1, rect.right, rect.bottom);
    surface->fillRect(r.offset(offset.h, offset.v));
}

void CDrawContext::drawString(const char* text, const CRect& rect, bool opaque, CHoriTxtAlign align)
{
    if (!text || !surface) return;
    CRect r(rect);
    r.offset(offset.h, offset.v);
    if (align != kCenterText && align != kRightText)
    {
        align = kLeftText;
        r.left += 1;
    }
    surface->drawText(text, r, align, opaque);
}

void CDrawContext::getClipRect(CRect& clip) const
{
    clip = clipRect;
    clip.offset(-offset.h, -offset.v);
}

CRect CDrawContext::getClipRect() const
{
    CRect clip;
    getClipRect(clip);
    return clip;
}

void CDrawContext::setClipRect(const CRect& clip)
{
    CRect r(clip);
    r.offset(offset.h, offset.v);
    if (r == clipRect) return;
    clipRect = r;
    if (surface) surface->setClip(r);
}

int32_t CDrawContext::getMouseButtons()
{
    return frame ? frame->getButtonState() : 0;
}

void CDrawContext::getMouseLocation(CPoint& point)
{
    if (frame)
        frame->getCurrentLocation(point);
    else
        point = CPoint();
}

// ---- offscreen

COffscreenContext::COffscreenContext(CFrame* frame, int32_t width, int32_t height,
                                     const CColor& background)
    : CDrawContext(frame, nullptr, nullptr), width(width), height(height),
      backgroundColor(background)
{
    platform::Window* frameWindow = frame ? frame->getPlatformWindow() : nullptr;
    adoptSurface(frameWindow ? frameWindow->createCompatibleSurface(width, height)
                             : platform::createImageSurface(width, height));
    setClipRect(CRect(0, 0, width, height));
    setFillColor(background);
    setFrameColor(background);
    fillRect(CRect(0, 0, width, height));
    drawRect(CRect(0, 0, width, height));
}

COffscreenContext::~COffscreenContext() = default;

void COffscreenContext::copyFrom(CDrawContext* dest, const CRect& destRect, const CPoint& srcOffset)
{
    if (!dest || !dest->getSurface() || !surface) return;
    CRect r(destRect);
    r.offset(dest->offset.h, dest->offset.v);
    dest->getSurface()->copyFrom(*surface, r, srcOffset);
}

} // namespace VSTGUI
