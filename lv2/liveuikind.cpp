// HalvernLive.lv2's UI library: Halvern Live's editor.
#include "livegui.h"
#include "lv2kinds.h"

namespace
{

VstGui* makeEditor(AudioEffect* effect)
{
    return new LiveGui(effect);
}

} // namespace

const halvernlv2::UiKind halvernlv2::kUi = {kLiveUiUri, LiveGui::kRetune + 1, makeEditor};
