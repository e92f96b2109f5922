#include "conoffbutton.h"

#include "cbitmap.h"

#include <cmath>
#include <cstring>

namespace VSTGUI
{

COnOffButton::COnOffButton(const CRect& size, CControlListener* listener, int32_t tag,
                           CBitmap* background, int32_t style)
    : CControl(size, listener, tag, background), style(style)
{
}

bool COnOffButton::isTypeOf(const char* className) const
{
    return className &&
           (std::strcmp(className, "COnOffButton") == 0 || CControl::isTypeOf(className));
}

void COnOffButton::draw(CDrawContext* context)
{
    if (pBackground)
    {
        const CPoint source(0, value == 0.0f ? 0 : pBackground->getHeight() / 2);
        if (bTransparencyEnabled)
            pBackground->drawTransparent(context, size, source);
        else
            pBackground->draw(context, size, source);
    }
    setDirty(false);
}

void COnOffButton::mouse(CDrawContext* context, CPoint, int32_t buttons)
{
    if (!startPress(context, buttons)) return;
    value = std::trunc(float(value)) != 0.0f ? 0.0f : 1.0f;
    if (listener && style == kPreListenerUpdate)
    {
        beginEdit();
        listener->valueChanged(context, this);
        endEdit();
    }
    doIdleStuff();
    if (listener && style == kPostListenerUpdate)
    {
        beginEdit();
        listener->valueChanged(context, this);
        endEdit();
    }
}

} // namespace VSTGUI
