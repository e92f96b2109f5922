// HalvernLive.lv2's DSP library: the Halvern Live effect.
#include "livevst.h"
#include "lv2kinds.h"

namespace
{

std::unique_ptr<AudioEffectX> makeLive(audioMasterCallback host, int rate)
{
    auto effect = std::make_unique<LiveVST>(host);
    effect->setSampleRate(static_cast<float>(rate));
    if (effect->rate() != rate) return nullptr;
    return effect;
}

uint16_t heldNotes(const AudioEffectX& effect)
{
    return static_cast<const LiveVST&>(effect).heldNotes();
}

} // namespace

const halvernlv2::PluginKind halvernlv2::kPlugin = {kLivePluginUri, kLivePorts, makeLive,
                                                    heldNotes};
