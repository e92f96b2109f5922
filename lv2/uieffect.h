// The effect as the editor sees it inside the LV2 UI: it holds the parameters' host values
// (Halvern's fifteen, and Retune for Halvern Live) and forms their display texts as the effect
// does, and turns the editor's changes into port writes and touch notifications to the host. The
// DSP instance is never reached from here.
#pragma once

#include "audioeffectx.h"
#include "sharedcontrols.h"

#include <lv2/ui/ui.h>

#include <atomic>
#include <cstdint>

class UiEffect : public AudioEffectX
{
public:
    static constexpr int kNumParams = 15;
    static constexpr int kMaxParams = 16;

    // touch may be null (the host offers no ui:touch). numParams: 15, or 16 with Retune.
    // heldPort: the output port of the held keys' pitch classes, -1 for none.
    UiEffect(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch,
             int numParams = kNumParams, int heldPort = -1);

    // A port event from the host: the control's value as the plug-in's port holds it. A value
    // the port already had changes nothing, so the host's echo of a write leaves the editor be.
    // The held port's value goes to heldNotes.
    void portChanged(uint32_t port, float portValue);

    // The held keys' pitch classes as the held port last said (bit 0 = A).
    std::atomic<uint16_t> heldNotes{0};

    // From the host's side, in the effect's host values; the editor follows.
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void getParameterDisplay(VstInt32 index, char* text) override;

    // From the editor: stored as setParameter does, then written to the port.
    void setParameterAutomated(VstInt32 index, float value) override;
    bool beginEdit(VstInt32 index) override;
    bool endEdit(VstInt32 index) override;

private:
    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const LV2UI_Touch* touch;
    int numParams;
    int heldPort;
    int steps[2] = {0, 0}; // Pitch and Formant in 10-cent steps, as the effect keeps them
    float retuneMs = halvernparams::kDefaultRetuneMs;
    bool switches[kMaxParams] = {};
    float portValues[kMaxParams] = {};
};
