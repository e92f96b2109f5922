// Stand-in plug-ins for the renderer's tests, built in four variants:
// - FIXTURE_VARIANT_delay: a pure delay of rate/100 samples that follows the host's sample rate
//   and reports that delay, so alignment can be checked sample for sample;
// - FIXTURE_VARIANT_fixed: the same delay, but it keeps its 44100 Hz delay whatever rate the host
//   sets, as a plug-in that cannot follow the rate does;
// - FIXTURE_VARIANT_null: the entry point answers with no effect;
// - FIXTURE_VARIANT_stereo: the delay with two outputs, which the renderer must refuse.
#include "hostinterface.h"

#include <cstdio>
#include <cstring>
#include <vector>

#if !defined(FIXTURE_VARIANT_null)
namespace
{

constexpr int kParameters = 15;

struct DelayEffect
{
    AEffect record{};
    float rate = 44100.0f;
    std::vector<float> line;
    size_t position = 0;
    float parameters[kParameters] = {0.5f, 0.5f, 0.0f, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

    // Dispatcher thread, while suspended: may allocate the delay line.
    void setRate(float newRate)
    {
#if defined(FIXTURE_VARIANT_fixed)
        if (!line.empty()) return;
#endif
        rate = newRate;
        line.assign(static_cast<size_t>(rate / 100.0f), 0.0f);
        position = 0;
        record.initialDelay = static_cast<VstInt32>(line.size());
    }
};

DelayEffect* self(AEffect* e)
{
    return static_cast<DelayEffect*>(e->object);
}

VstIntPtr dispatcher(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr, float opt)
{
    DelayEffect* effect = self(e);
    switch (opcode)
    {
    case effClose:
        delete effect;
        return 1;
    case effSetSampleRate:
        effect->setRate(opt);
        return 0;
    case effGetParamDisplay:
        if (index >= 0 && index < kParameters)
            std::snprintf(static_cast<char*>(ptr), kVstMaxParamStrLen + 1, "%.3f",
                          effect->parameters[index]);
        return 0;
    case effGetParamName:
        if (index >= 0 && index < kParameters)
            std::snprintf(static_cast<char*>(ptr), kVstMaxParamStrLen + 1, "P%d", index);
        return 0;
    default:
        return 0;
    }
}

void setParameter(AEffect* e, VstInt32 index, float value)
{
    if (index >= 0 && index < kParameters) self(e)->parameters[index] = value;
}

float getParameter(AEffect* e, VstInt32 index)
{
    return index >= 0 && index < kParameters ? self(e)->parameters[index] : 0.0f;
}

// Audio thread: allocates nothing, takes no lock, does no I/O.
void processReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 frames)
{
    DelayEffect* effect = self(e);
    std::vector<float>& line = effect->line;
    for (VstInt32 k = 0; k < frames; ++k)
    {
        const float in = inputs[0][k];
        if (line.empty())
        {
            outputs[0][k] = in;
            continue;
        }
        outputs[0][k] = line[effect->position];
        line[effect->position] = in;
        effect->position = (effect->position + 1) % line.size();
    }
}

} // namespace
#endif

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host)
{
    if (!host || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
#if defined(FIXTURE_VARIANT_null)
    return nullptr;
#else
    auto* effect = new DelayEffect;
    AEffect& r = effect->record;
    r.magic = kEffectMagic;
    r.dispatcher = dispatcher;
    r.setParameter = setParameter;
    r.getParameter = getParameter;
    r.numPrograms = 1;
    r.numParams = kParameters;
    r.numInputs = 1;
#if defined(FIXTURE_VARIANT_stereo)
    r.numOutputs = 2;
#else
    r.numOutputs = 1;
#endif
    r.flags = effFlagsCanReplacing;
    r.ioRatio = 1.0f;
    r.object = effect;
    r.uniqueID = 0x46697874;
    r.version = 1;
    r.processReplacing = processReplacing;
    effect->setRate(44100.0f);
    return &r;
#endif
}
