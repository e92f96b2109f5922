// Halvern.lv2's DSP library: the Halvern effect.
#include "lv2kinds.h"
#include "vexilvst.h"

namespace
{

std::unique_ptr<AudioEffectX> makeHalvern(audioMasterCallback host, int rate)
{
    auto effect = std::make_unique<VexilVST>(host);
    effect->setSampleRate(static_cast<float>(rate));
    if (effect->geometry().rate != rate) return nullptr;
    return effect;
}

} // namespace

const halvernlv2::PluginKind halvernlv2::kPlugin = {kPluginUri, kHalvernPorts, makeHalvern,
                                                    nullptr};
