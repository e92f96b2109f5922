#include "ccontrol.h"

#include "cbitmap.h"
#include "cdrawcontext.h"
#include "cframe.h"

#include <cstring>

namespace VSTGUI
{

CControl::CControl(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background)
    : CView(size), listener(listener), tag(tag)
{
    pBackground = background;
    if (pBackground) pBackground->remember();
    setDirty(true);
}

CControl::~CControl() = default;

bool CControl::isDirty() const
{
    return oldValue != value || bDirty;
}

void CControl::setDirty(bool dirty)
{
    bDirty = dirty;
    if (dirty)
        oldValue = value == -1.0f ? 0.0f : -1.0f;
    else
        oldValue = value;
}

bool CControl::isTypeOf(const char* className) const
{
    return className && (std::strcmp(className, "CControl") == 0 || CView::isTypeOf(className));
}

void CControl::doIdleStuff()
{
    if (pParentFrame) pParentFrame->doIdleStuff();
}

void CControl::beginEdit()
{
    if (!pParentFrame) return;
    pParentFrame->setFocusView(this);
    pParentFrame->beginEdit(tag);
}

void CControl::endEdit()
{
    if (pParentFrame) pParentFrame->endEdit(tag);
}

void CControl::copyBackOffset()
{
    backOffset = size.topLeft();
}

void CControl::bounceValue()
{
    if (value > vmax)
        value = vmax;
    else if (value < vmin)
        value = vmin;
}

bool CControl::checkDefaultValue(CDrawContext* context, int32_t buttons)
{
    if (buttons != (kLButton | kControl)) return false;
    beginEdit();
    value = defaultValue;
    if (isDirty() && listener) listener->valueChanged(context, this);
    endEdit();
    return true;
}

int32_t CControl::readButtons(CDrawContext* context)
{
    if (context) return context->getMouseButtons();
    return pParentFrame ? pParentFrame->getButtonState() : 0;
}

bool CControl::startPress(CDrawContext* context, int32_t& buttons)
{
    if (!bMouseEnabled) return false;
    if (buttons == kReadButtons) buttons = readButtons(context);
    if (!(buttons & kLButton)) return false;
    if (listener && (buttons & (kShift | kControl | kAlt)))
        if (listener->controlModifierClicked(context, this, buttons) != 0) return false;
    return true;
}

} // namespace VSTGUI
