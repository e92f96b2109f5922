#include "vstgui.h"

#include "audioeffect.h"

VstGui::VstGui(AudioEffect* effect) : AEffEditor(effect) { effect->setEditor(this); }

bool VstGui::getRect(ERect** out)
{
    *out = &rect;
    return true;
}

bool VstGui::open(void* parentWindow)
{
    AEffEditor::open(parentWindow);
    return false;
}

void VstGui::updateControl(VstInt32, float) {}
