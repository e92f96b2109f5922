#include "aeffguieditor.h"

#include "audioeffect.h"
#include "csystem.h"

int32_t AEffGUIEditor::knobMode = -1;

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect)
    : AEffEditor(effect), lastTicks(VSTGUI::getTickCount()),
      threadSetup(VSTGUI::platform::setUpEditorThread())
{
    effect->setEditor(this);
}

AEffGUIEditor::~AEffGUIEditor() = default;

bool AEffGUIEditor::getRect(ERect** out)
{
    *out = &rect;
    return true;
}

bool AEffGUIEditor::open(void* parentWindow)
{
    return AEffEditor::open(parentWindow);
}

void AEffGUIEditor::idle()
{
    if (inIdleStuff || !frame)
        return;
    frame->idle();
}

namespace
{
VSTGUI::CKeyCode toToolkitKey(const VstKeyCode& key)
{
    VSTGUI::CKeyCode out;
    out.character = key.character;
    out.virt = key.virt;
    out.modifier = key.modifier;
    return out;
}
} // namespace

bool AEffGUIEditor::onKeyDown(VstKeyCode& key)
{
    if (!frame)
        return false;
    VSTGUI::CKeyCode k = toToolkitKey(key);
    return frame->onKeyDown(k) == 1;
}

bool AEffGUIEditor::onKeyUp(VstKeyCode& key)
{
    if (!frame)
        return false;
    VSTGUI::CKeyCode k = toToolkitKey(key);
    return frame->onKeyUp(k) == 1;
}

bool AEffGUIEditor::onWheel(float distance)
{
    if (!frame)
        return false;
    // The frame window sits at (0, 0) in the host's window, so the pointer's position in the
    // frame is its position in that window.
    VSTGUI::CPoint where;
    frame->getCurrentLocation(where);
    return frame->onWheel(nullptr, where, distance);
}

bool AEffGUIEditor::setKnobMode(VstInt32 mode)
{
    knobMode = mode;
    return true;
}

void AEffGUIEditor::setParameter(VstInt32, float) {}

void AEffGUIEditor::beginEdit(VstInt32 index) { effect->beginEdit(index); }

void AEffGUIEditor::endEdit(VstInt32 index) { effect->endEdit(index); }

void AEffGUIEditor::doIdleStuff()
{
    // Unsigned arithmetic throughout, so the tick counter may wrap.
    uint32_t now = VSTGUI::getTickCount();
    if (now < lastTicks)
    {
        VSTGUI::sleepMilliseconds(4);
        now += 4;
        if (now < lastTicks - 50)
            return;
    }
    idle();
    VSTGUI::dispatchPendingPaint();
    lastTicks = now + 100;

    inIdleStuff = true;
    effect->masterIdle();
    inIdleStuff = false;
}
