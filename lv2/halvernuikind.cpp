// Halvern.lv2's UI library: Halvern's editor.
#include "lv2kinds.h"
#include "uieffect.h"
#include "vstgui.h"

namespace
{

VstGui* makeEditor(UiEffect* effect)
{
    return new VstGui(effect);
}

} // namespace

const halvernlv2::UiKind halvernlv2::kUi = {kUiUri, VstGui::kNumParams, makeEditor, -1};
