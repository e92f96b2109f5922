// A rotary knob drawn from a body picture and a handle dot (or a handle line without one).
#pragma once

#include "ccontrol.h"

namespace VSTGUI
{

class CKnob : public CControl
{
public:
    CKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background,
          CBitmap* handle, const CPoint& offset = CPoint());
    ~CKnob() override;

    void draw(CDrawContext* context) override;
    // Follows the pointer until the left button is released: circular (the value under the
    // pointer's angle) or linear (200 pixels of right + up movement for the whole range).
    void mouse(CDrawContext* context, CPoint where, int32_t buttons = kReadButtons) override;
    // Arrow keys: a tenth of wheelInc with Shift.
    int32_t onKeyDown(CKeyCode& key) override;
    using CControl::onWheel;
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;
    bool isTypeOf(const char* className) const override;
    // The angle-to-value mapping follows the range.
    void setMin(float val) override;
    void setMax(float val) override;

    virtual void drawHandle(CDrawContext* context);
    virtual void setStartAngle(float val);
    virtual float getStartAngle() const { return startAngle; }
    virtual void setRangeAngle(float val);
    virtual float getRangeAngle() const { return rangeAngle; }
    // Where the handle's centre lies for the current value, relative to the top-left corner.
    virtual void valueToPoint(CPoint& point) const;
    // The value under a point relative to the top-left corner; the dead zone between the two
    // ends maps to the nearer end.
    virtual float valueFromPoint(const CPoint& point) const;
    virtual void setInsetValue(int32_t val) { inset = val; }
    virtual void setColorShadowHandle(const CColor& color);
    virtual void setColorHandle(const CColor& color);
    virtual void setHandleBitmap(CBitmap* handle);
    virtual void setZoomFactor(float val) { zoomFactor = val; }
    // When set, a press changes nothing until the pointer has left the point it was pressed at.
    void setChangeOnlyOnDrag(bool on) { changeOnlyOnDrag = on; }
    virtual float getZoomFactor() const { return zoomFactor; }

    int32_t getInsetValue() const { return inset; }

protected:
    void compute();

    CPoint offset;
    CColor colorHandle = kWhiteCColor;
    CColor colorShadowHandle = kGreyCColor;
    CBitmap* pHandle;
    int32_t inset;
    float startAngle;
    float rangeAngle;
    float halfAngle = 0.0f;
    float aCoef = 0.0f;
    float bCoef = 0.0f;
    float radius;
    float zoomFactor = 1.5f;
    bool changeOnlyOnDrag = false;
};

} // namespace VSTGUI
