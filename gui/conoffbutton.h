// A two-state switch drawn from one half of a picture holding both states stacked vertically.
#pragma once

#include "ccontrol.h"

namespace VSTGUI
{

enum COnOffButtonStyle : int32_t
{
    kPostListenerUpdate = 0, // tell the listener after the repaint that follows a click
    kPreListenerUpdate = 1,  // before it
};

class COnOffButton : public CControl
{
public:
    COnOffButton(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background,
                 int32_t style = kPostListenerUpdate);

    // Upper half for exactly 0, lower half for any other value.
    void draw(CDrawContext* context) override;
    // A click toggles on the integer part of the value: 0.3 becomes 1, 1.7 becomes 0.
    void mouse(CDrawContext* context, CPoint where, int32_t buttons = kReadButtons) override;
    bool isTypeOf(const char* className) const override;

    virtual int32_t getStyle() const { return style; }
    virtual void setStyle(int32_t val) { style = val; }

protected:
    int32_t style;
};

} // namespace VSTGUI
