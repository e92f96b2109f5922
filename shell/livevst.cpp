#include "livevst.h"

#include "livegui.h"

#include <exception>

using namespace halvernparams;

LiveVST::LiveVST(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, kNumParams),
      voice(std::make_unique<LiveVoice>(static_cast<int>(sampleRate)))
{
    setNumInputs(1);
    setNumOutputs(1);
    setUniqueID(kUniqueID);
    isSynth(false);
    canProcessReplacing(true);

    new LiveGui(this); // attaches itself as this effect's editor

    setInitialDelay(voice->latency());
}

void LiveVST::setSampleRate(float rate)
{
    AudioEffectX::setSampleRate(rate);
    if (!(rate >= LiveVoice::kMinRate && rate <= LiveVoice::kMaxRate)) return;
    const int newRate = static_cast<int>(rate);
    if (resumed)
        pendingRate = newRate;
    else
        applyRate(newRate);
}

void LiveVST::suspend()
{
    resumed = false;
    AudioEffectX::suspend();
}

void LiveVST::resume()
{
    if (pendingRate != 0)
    {
        applyRate(pendingRate);
        pendingRate = 0;
    }
    voice->reset();
    resumed = true;
    AudioEffectX::resume();
}

void LiveVST::applyRate(int rate)
{
    if (rate == voice->rate()) return;
    try
    {
        voice = std::make_unique<LiveVoice>(rate);
    }
    catch (const std::exception&)
    {
        return; // the previous voice keeps working
    }
    setInitialDelay(voice->latency());
    callHost(audioMasterIOChanged);
}

void LiveVST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (sampleFrames <= 0 || !inputs || !outputs || !inputs[0] || !outputs[0]) return;
    // One snapshot for the whole block: LiveVoice takes its controls per call.
    const LiveControls snapshot{controls.load(), retuneMs.load(std::memory_order_relaxed)};
    voice->process(inputs[0], outputs[0], sampleFrames, snapshot);
}

void LiveVST::setParameter(VstInt32 index, float value)
{
    if (index == kRetune)
        retuneMs.store(retuneMsFromHost(value), std::memory_order_relaxed);
    else
        controls.set(index, value);
    if (auto* gui = dynamic_cast<VstGui*>(editor)) gui->updateControl(index, value);
}

float LiveVST::getParameter(VstInt32 index)
{
    if (index == kRetune) return hostFromRetuneMs(retuneMs.load(std::memory_order_relaxed));
    return controls.get(index);
}

void LiveVST::getParameterLabel(VstInt32 index, char* label)
{
    copyText(label, index == kRetune ? "ms" : "", kVstMaxParamStrLen);
}

void LiveVST::getParameterDisplay(VstInt32 index, char* text)
{
    if (index == kRetune)
        retuneDisplay(retuneMs.load(std::memory_order_relaxed), text);
    else
        controls.display(index, text);
}

void LiveVST::getParameterName(VstInt32 index, char* text)
{
    if (index == kRetune)
        copyText(text, "Retune", kVstMaxParamStrLen);
    else
        SharedControls::name(index, text);
}

bool LiveVST::getEffectName(char* name)
{
    copyText(name, "Halvern Live", kVstMaxEffectNameLen);
    return true;
}

bool LiveVST::getVendorString(char* text)
{
    copyText(text, "Brakk", kVstMaxVendorStrLen);
    return true;
}

bool LiveVST::getProductString(char* text)
{
    copyText(text, "Halvern Live", kVstMaxProductStrLen);
    return true;
}
