// HalvernLive.lv2's UI library: Halvern Live's editor, its lamps following the held port.
#include "livegui.h"
#include "lv2kinds.h"
#include "uieffect.h"

namespace
{

VstGui* makeEditor(UiEffect* effect)
{
    auto* editor = new LiveGui(effect);
    editor->watchHeldNotes(&effect->heldNotes);
    return editor;
}

} // namespace

const halvernlv2::UiKind halvernlv2::kUi = {kLiveUiUri, LiveGui::kRetune + 1, makeEditor,
                                            static_cast<int>(halvernlv2::kLivePorts.held())};
