// The LV2 plug-in: the effect object of the VST 2.x plug-in behind LV2's entry points. The host's
// control ports become the effect's parameters at the start of each run() call and its audio
// goes through the effect's processReplacing. Which effect, and its ports, is the bundle's
// PluginKind (lv2kinds.h).
#include "audioeffectx.h"
#include "lv2kinds.h"

#include <lv2/core/lv2.h>

#include <cmath>
#include <memory>
#include <new>

namespace
{

using namespace halvernlv2;

// The effect asks its host for nothing it needs; it only wants to know it has one.
VstIntPtr HALVERN_CALLBACK answerEffect(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*,
                                        float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A suspended effect running at rate, or null when it cannot run at that rate.
std::unique_ptr<AudioEffectX> makeEffect(int rate)
{
    return kPlugin.make(answerEffect, rate);
}

// Both effects run from 11 kHz to 384 kHz.
constexpr double kMinRate = 11000.0;
constexpr double kMaxRate = 384000.0;

struct Instance
{
    int rate = 0;
    std::unique_ptr<AudioEffectX> effect;
    bool ran = false; // audio was processed since the last activation

    const float* controls[kMaxControlPorts] = {};
    float applied[kMaxControlPorts] = {};
    bool appliedValid[kMaxControlPorts] = {};
    const float* input = nullptr;
    float* output = nullptr;
    float* latency = nullptr;
};

bool sameValue(float a, float b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*,
                       const LV2_Feature* const*)
{
    if (!(sampleRate >= kMinRate && sampleRate <= kMaxRate)) return nullptr;
    try
    {
        auto instance = std::make_unique<Instance>();
        instance->rate = static_cast<int>(sampleRate);
        instance->effect = makeEffect(instance->rate);
        if (!instance->effect) return nullptr;
        return instance.release();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data)
{
    auto* instance = static_cast<Instance*>(handle);
    const PortLayout& ports = kPlugin.ports;
    if (port < ports.controls)
        instance->controls[port] = static_cast<const float*>(data);
    else if (port == ports.input())
        instance->input = static_cast<const float*>(data);
    else if (port == ports.output())
        instance->output = static_cast<float*>(data);
    else if (port == ports.latency())
        instance->latency = static_cast<float*>(data);
}

// LV2 wants an activation to forget everything heard before, which resume() does not do: an
// instance that already ran starts over with a new effect (activate may allocate). Should that
// fail, the old effect goes on.
void activate(LV2_Handle handle)
{
    auto* instance = static_cast<Instance*>(handle);
    if (instance->ran)
    {
        try
        {
            if (auto fresh = makeEffect(instance->rate))
            {
                instance->effect = std::move(fresh);
                for (bool& valid : instance->appliedValid)
                    valid = false;
                instance->ran = false;
            }
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    instance->effect->resume();
}

// Audio thread: no lock, no allocation and no system call here; the controls reach the effect
// before the call's first sample, as a VST 2.x host's setParameter before processReplacing.
void run(LV2_Handle handle, uint32_t sampleCount)
{
    auto* instance = static_cast<Instance*>(handle);
    AudioEffectX& effect = *instance->effect;
    for (uint32_t k = 0; k < kPlugin.ports.controls; ++k)
    {
        if (!instance->controls[k]) continue;
        const float value = *instance->controls[k];
        if (instance->appliedValid[k] && sameValue(value, instance->applied[k])) continue;
        effect.setParameter(static_cast<VstInt32>(k), hostValueOfPort(k, value));
        instance->applied[k] = value;
        instance->appliedValid[k] = true;
    }
    if (instance->latency)
        *instance->latency = static_cast<float>(effect.getAeffect()->initialDelay);
    if (sampleCount == 0 || !instance->input || !instance->output) return;
    float* inputs[1] = {const_cast<float*>(instance->input)};
    float* outputs[1] = {instance->output};
    effect.processReplacing(inputs, outputs, static_cast<VstInt32>(sampleCount));
    instance->ran = true;
}

void deactivate(LV2_Handle handle)
{
    static_cast<Instance*>(handle)->effect->suspend();
}

void cleanup(LV2_Handle handle)
{
    delete static_cast<Instance*>(handle);
}

const void* extensionData(const char*)
{
    return nullptr;
}

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    static const LV2_Descriptor descriptor = {kPlugin.uri, instantiate, connectPort, activate,
                                              run,         deactivate,  cleanup,     extensionData};
    return index == 0 ? &descriptor : nullptr;
}
