// Controls: views with a value in a range, a tag and a listener told of every change.
#pragma once

#include "cview.h"

namespace VSTGUI
{

class CControl;

class CControlListener
{
public:
    virtual void valueChanged(CDrawContext* context, CControl* control) = 0;
    // A left press with Shift, Control or Alt held; non-zero when the listener consumed it.
    virtual int32_t controlModifierClicked(CDrawContext* context, CControl* control,
                                           int32_t buttons) = 0;

protected:
    ~CControlListener() = default;
};

class CControl : public CView
{
public:
    CControl(const CRect& size, CControlListener* listener, int32_t tag,
             CBitmap* background = nullptr);
    ~CControl() override;

    void draw(CDrawContext* context) override = 0;
    // Dirty when the value differs from the one last drawn (NaN always differs), or flagged.
    bool isDirty() const override;
    // Any thread, like setValue: relaxed stores only.
    void setDirty(bool dirty = true) override;
    bool isTypeOf(const char* className) const override;

    // Asks the editor (through the frame) to repaint while a press is being tracked.
    virtual void doIdleStuff();
    // Stores the value only: no clamping, no redraw. Any thread (the parameter setter's too):
    // one relaxed store, no allocation, no lock, no I/O.
    virtual void setValue(float val) { value = val; }
    virtual float getValue() const { return value; }
    virtual void setMin(float val) { vmin = val; }
    virtual float getMin() const { return vmin; }
    virtual void setMax(float val) { vmax = val; }
    virtual float getMax() const { return vmax; }
    virtual void setOldValue(float val) { oldValue = val; }
    virtual float getOldValue() const { return oldValue; }
    virtual void setDefaultValue(float val) { defaultValue = val; }
    virtual float getDefaultValue() const { return defaultValue; }
    virtual void setTag(int32_t val) { tag = val; }
    virtual int32_t getTag() const { return tag; }
    // Takes the frame's focus and opens the edit gesture of the tag.
    virtual void beginEdit();
    virtual void endEdit();
    virtual void setBackOffset(const CPoint& offset) { backOffset = offset; }
    // Back offset = the control's top-left corner.
    virtual void copyBackOffset();
    virtual void setWheelInc(float val) { wheelInc = val; }
    virtual float getWheelInc() const { return wheelInc; }
    // Moves the value back into [vmin, vmax].
    virtual void bounceValue();
    // Control + left click and nothing else (buttons == 17): back to the default value.
    virtual bool checkDefaultValue(CDrawContext* context, int32_t buttons);

    CControlListener* getListener() const { return listener; }
    void setListener(CControlListener* l) { listener = l; }

protected:
    // The button state word now.
    int32_t readButtons(CDrawContext* context);
    // Start of a press shared by the controls that take one; false when the press is not theirs.
    bool startPress(CDrawContext* context, int32_t& buttons);

    CControlListener* listener;
    int32_t tag;
    CRelaxed<float> oldValue = 1.0f;
    float defaultValue = 0.5f;
    CRelaxed<float> value = 0.0f;
    float vmin = 0.0f;
    float vmax = 1.0f;
    float wheelInc = 0.1f;
    CPoint backOffset;
};

} // namespace VSTGUI
