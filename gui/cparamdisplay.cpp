#include "cparamdisplay.h"

#include "cbitmap.h"
#include "cdrawcontext.h"

#include <cstdio>
#include <cstring>

namespace VSTGUI
{

CParamDisplay::CParamDisplay(const CRect& size, CBitmap* background, int32_t style)
    : CControl(size, nullptr, 0, nullptr), style(style)
{
    if (background) setBackground(background);
    backOffset = CPoint(0, 0);
}

bool CParamDisplay::isTypeOf(const char* className) const
{
    return className &&
           (std::strcmp(className, "CParamDisplay") == 0 || CControl::isTypeOf(className));
}

void CParamDisplay::draw(CDrawContext* context)
{
    char text[256];
    text[0] = 0;
    if (stringConvert2)
        stringConvert2(value, text, userData);
    else if (stringConvert)
        stringConvert(value, text);
    else
        std::snprintf(text, sizeof text, "%2.2f", static_cast<double>(float(value)));
    drawText(context, text);
}

void CParamDisplay::drawText(CDrawContext* context, const char* text, CBitmap* bitmap)
{
    setDirty(false);
    if (style & kNoDrawStyle) return;

    if (!bitmap) bitmap = pBackground;
    if (bitmap)
    {
        if (bTransparencyEnabled)
            bitmap->drawTransparent(context, size, backOffset);
        else
            bitmap->draw(context, size, backOffset);
    }
    else if (!bTransparencyEnabled)
    {
        context->setFillColor(backColor);
        context->fillRect(size);
        if (!(style & (kNoFrame | k3DOut | k3DIn)))
        {
            context->setFrameColor(frameColor);
            context->drawRect(size);
        }
    }

    if (style & (k3DIn | k3DOut))
    {
        context->setLineWidth(1);
        const int32_t t = size.top + 1;
        const int32_t r = size.right - 1;
        const int32_t b = size.bottom - 1;
        const bool in = (style & k3DIn) != 0;
        context->setFrameColor(in ? backColor : frameColor);
        context->moveTo(CPoint(size.left, b));
        context->lineTo(CPoint(size.left, t));
        context->lineTo(CPoint(r, t));
        context->setFrameColor(in ? frameColor : backColor);
        context->moveTo(CPoint(r, t));
        context->lineTo(CPoint(r, b));
        context->lineTo(CPoint(size.left, b));
    }

    if ((style & kNoTextStyle) || !text) return;

    const CRect oldClip = context->getClipRect();
    CRect clip(size);
    context->setClipRect(clip.bound(oldClip));
    context->setFont(fontID, 0, txtFace);
    const auto align = static_cast<CHoriTxtAlign>(horiTxtAlign);
    if (style & kShadowText)
    {
        CRect shadow(size);
        context->setFontColor(shadowColor);
        context->drawString(text, shadow.offset(1, 1), false, align);
    }
    context->setFontColor(fontColor);
    context->drawString(text, size, !bTextTransparencyEnabled, align);
    context->setClipRect(oldClip);
}

void CParamDisplay::setFont(int32_t val)
{
    if (fontID == val) return;
    fontID = val;
    setDirty();
}

void CParamDisplay::setFontColor(const CColor& color)
{
    if (fontColor == color) return;
    fontColor = color;
    setDirty();
}

void CParamDisplay::setBackColor(const CColor& color)
{
    if (backColor == color) return;
    backColor = color;
    setDirty();
}

void CParamDisplay::setFrameColor(const CColor& color)
{
    if (frameColor == color) return;
    frameColor = color;
    setDirty();
}

void CParamDisplay::setShadowColor(const CColor& color)
{
    if (shadowColor == color) return;
    shadowColor = color;
    setDirty();
}

void CParamDisplay::setHoriAlign(int32_t align)
{
    if (horiTxtAlign == align) return;
    horiTxtAlign = align;
    setDirty();
}

void CParamDisplay::setStringConvert2(CParamDisplayConvert2 convert, void* data)
{
    stringConvert2 = convert;
    userData = data;
}

void CParamDisplay::setStyle(int32_t val)
{
    if (style == val) return;
    style = val;
    setDirty();
}

void CParamDisplay::setTxtFace(int32_t val)
{
    if (txtFace == val) return;
    txtFace = val;
    setDirty();
}

// ---- CTextLabel

CTextLabel::CTextLabel(const CRect& size, const char* txt, CBitmap* background, int32_t style)
    : CParamDisplay(size, background, style)
{
    setText(txt);
}

bool CTextLabel::isTypeOf(const char* className) const
{
    return className &&
           (std::strcmp(className, "CTextLabel") == 0 || CParamDisplay::isTypeOf(className));
}

void CTextLabel::setText(const char* txt)
{
    text.reset();
    if (!txt) return;
    const size_t length = std::strlen(txt);
    text.reset(new char[length + 1]);
    std::memcpy(text.get(), txt, length + 1);
}

void CTextLabel::draw(CDrawContext* context)
{
    drawText(context, text.get());
    setDirty(false);
}

} // namespace VSTGUI
