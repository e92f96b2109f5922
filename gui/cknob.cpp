#include "cknob.h"

#include "cbitmap.h"
#include "cdrawcontext.h"
#include "cframe.h"

#include <cmath>
#include <cstring>

namespace VSTGUI
{

namespace
{

constexpr float kPi = 3.14159265358979f;
constexpr float kTwoPi = 2.0f * kPi;

int32_t insetFor(const CBitmap* handle)
{
    return static_cast<int32_t>(handle->getWidth() * 0.5f + 2.5f);
}

// Pixel coordinate from a float that may be out of range: truncation toward zero.
int32_t toPixel(float f)
{
    if (!(f > -1.0e6f && f < 1.0e6f)) return 0;
    return static_cast<int32_t>(f);
}

} // namespace

CKnob::CKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background,
             CBitmap* handle, const CPoint& offset)
    : CControl(size, listener, tag, background), offset(offset), pHandle(handle),
      startAngle(5.0f * kPi / 4.0f), rangeAngle(-3.0f * kPi / 2.0f),
      radius((size.right - size.left) * 0.5f)
{
    if (pHandle)
    {
        pHandle->remember();
        inset = insetFor(pHandle);
    }
    else
        inset = 3;
    compute();
    setWantsFocus(true);
}

CKnob::~CKnob()
{
    if (pHandle) pHandle->forget();
}

bool CKnob::isTypeOf(const char* className) const
{
    return className && (std::strcmp(className, "CKnob") == 0 || CControl::isTypeOf(className));
}

void CKnob::compute()
{
    halfAngle = (kTwoPi - std::fabs(rangeAngle)) * 0.5f;
    aCoef = (vmax - vmin) / rangeAngle;
    bCoef = vmin - aCoef * startAngle;
}

void CKnob::setMin(float val)
{
    CControl::setMin(val);
    compute();
}

void CKnob::setMax(float val)
{
    CControl::setMax(val);
    compute();
}

void CKnob::setStartAngle(float val)
{
    startAngle = val;
    compute();
    setDirty();
}

void CKnob::setRangeAngle(float val)
{
    rangeAngle = val;
    compute();
    setDirty();
}

void CKnob::setColorShadowHandle(const CColor& color)
{
    colorShadowHandle = color;
    setDirty();
}

void CKnob::setColorHandle(const CColor& color)
{
    colorHandle = color;
    setDirty();
}

void CKnob::setHandleBitmap(CBitmap* handle)
{
    if (pHandle) pHandle->forget();
    pHandle = handle;
    if (pHandle)
    {
        pHandle->remember();
        inset = insetFor(pHandle);
    }
}

void CKnob::valueToPoint(CPoint& point) const
{
    // a value that is not a number draws at the start
    const float current = value;
    const float v = std::isfinite(current) ? current : vmin;
    const float a = (v - bCoef) / aCoef;
    point.h = toPixel(radius + std::cos(a) * (radius - inset) + 0.5f);
    point.v = toPixel(radius - std::sin(a) * (radius - inset) + 0.5f);
}

float CKnob::valueFromPoint(const CPoint& point) const
{
    float a = std::atan2(radius - point.v, point.h - radius);
    if (a < 0.0f) a += kTwoPi;
    a -= startAngle;
    if (rangeAngle < 0.0f)
    {
        a -= rangeAngle;
        const float w = a < 0.0f ? a + kTwoPi : (a > kTwoPi ? a - kTwoPi : a);
        if (w > halfAngle - rangeAngle) return vmax;
        if (w > -rangeAngle) return vmin;
        if (a > halfAngle - rangeAngle)
            a -= kTwoPi;
        else if (a < -halfAngle)
            a += kTwoPi;
        return aCoef * a + vmax;
    }
    const float w = a < 0.0f ? a + kTwoPi : (a > kTwoPi ? a - kTwoPi : a);
    if (w > halfAngle + rangeAngle) return vmin;
    if (w > rangeAngle) return vmax;
    if (a > halfAngle + rangeAngle)
        a -= kTwoPi;
    else if (a < -halfAngle)
        a += kTwoPi;
    return aCoef * a + vmin;
}

void CKnob::draw(CDrawContext* context)
{
    if (pBackground)
    {
        if (bTransparencyEnabled)
            pBackground->drawTransparent(context, size, offset);
        else
            pBackground->draw(context, size, offset);
    }
    drawHandle(context);
    setDirty(false);
}

void CKnob::drawHandle(CDrawContext* context)
{
    CPoint p;
    valueToPoint(p);
    if (pHandle)
    {
        const int32_t w = pHandle->getWidth();
        const int32_t h = pHandle->getHeight();
        const int32_t left = size.left + p.h - w / 2;
        const int32_t top = size.top + p.v - h / 2;
        pHandle->drawTransparent(context, CRect(left, top, left + w, top + h), CPoint(0, 0));
        return;
    }
    CPoint origin(size.left - 1 + (size.right - size.left) / 2,
                  size.top + (size.bottom - size.top) / 2);
    p.offset(size.left - 1, size.top);
    context->setFrameColor(colorShadowHandle);
    context->moveTo(p);
    context->lineTo(origin);
    p.offset(1, -1);
    origin.offset(1, -1);
    context->setFrameColor(colorHandle);
    context->moveTo(p);
    context->lineTo(origin);
}

void CKnob::mouse(CDrawContext* context, CPoint where, int32_t buttons)
{
    if (!startPress(context, buttons)) return;
    if (checkDefaultValue(context, buttons)) return;

    float entryValue = value;
    const float range = vmax - vmin;
    float coef = range * 0.005f;
    const float halfRange = range * 0.5f;
    CPoint firstPoint;
    float old = 0.0f;

    const int32_t mode = pParentFrame ? pParentFrame->getKnobMode() : 0;
    const bool alt = (buttons & kAlt) != 0;
    const bool linear = (mode == 2) != alt; // Alt swaps the two kinds of drag
    if (linear)
    {
        const float fr = (buttons & kShift) ? zoomFactor * 200.0f : 200.0f;
        coef = range / fr;
        firstPoint = where;
    }
    else
    {
        CPoint local(where);
        old = valueFromPoint(local.offset(-size.left, -size.top));
    }

    CPoint lastPoint(-1, -1);
    const CPoint pressPoint = where;
    bool moved = !changeOnlyOnDrag;
    int32_t stateInUse = buttons;
    beginEdit();
    int32_t b = 0;
    do
    {
        b = readButtons(context);
        moved = moved || where != pressPoint;
        if (moved && where != lastPoint)
        {
            lastPoint = where;
            if (linear)
            {
                const float diff =
                    static_cast<float>((where.h - firstPoint.h) + (firstPoint.v - where.v));
                if (b != stateInUse)
                {
                    // keep the value under the pointer: move the entry value instead
                    const float newFr = (b & kShift) ? zoomFactor * 200.0f : 200.0f;
                    const float newCoef = range / newFr;
                    entryValue += diff * (coef - newCoef);
                    coef = newCoef;
                    stateInUse = b;
                }
                value = diff * coef + entryValue;
                bounceValue();
            }
            else
            {
                where.offset(-size.left, -size.top);
                const float v = valueFromPoint(where);
                value = v;
                // jumped across the dead zone: stay at the end it left
                if (old - v > halfRange)
                    value = vmax;
                else if (v - old > halfRange)
                    value = vmin;
                else
                    old = v;
            }
            if (isDirty() && listener) listener->valueChanged(context, this);
        }
        getMouseLocation(context, where);
        doIdleStuff();
    } while (b & kLButton);
    endEdit();
}

bool CKnob::onWheel(CDrawContext* context, const CPoint&, float distance)
{
    if (!bMouseEnabled) return false;
    const int32_t buttons = readButtons(context);
    if (buttons & kShift)
        value += 0.1f * distance * wheelInc;
    else
        value += distance * wheelInc;
    bounceValue();
    if (isDirty() && listener)
    {
        beginEdit();
        listener->valueChanged(context, this);
        endEdit();
    }
    return true;
}

int32_t CKnob::onKeyDown(CKeyCode& key)
{
    float count = 0.0f;
    switch (key.virt)
    {
    case kKeyLeft:
    case kKeyDown:
        count = -1.0f;
        break;
    case kKeyUp:
    case kKeyRight:
        count = 1.0f;
        break;
    default:
        return -1;
    }
    if (key.modifier & kKeyModifierShift)
        value += 0.1f * count * wheelInc;
    else
        value += count * wheelInc;
    bounceValue();
    if (isDirty() && listener)
    {
        beginEdit();
        listener->valueChanged(nullptr, this);
        endEdit();
    }
    return 1;
}

} // namespace VSTGUI
