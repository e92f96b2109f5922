// Halvern Live's editor: Halvern's, on a taller background with a Retune knob and read-out below
// Formant. Knobs drag up and down unless the host asks for circular ones, a press that does not
// move changes nothing, and a wheel notch is one semitone (Pitch, Formant) or 10 ms (Retune), a
// tenth of that with Shift.
#pragma once

#include "vstgui.h"

class LiveGui : public VstGui
{
public:
    static constexpr VstInt32 kRetune = 15;

    explicit LiveGui(AudioEffect* effect);

    bool open(void* parentWindow) override;
    void close() override;

    // A control moved. Pitch and Formant go to the effect as the middle of the step the knob is
    // nearest to, so a whole number of notches lands on whole semitones.
    void setParameter(VstInt32 index, float value) override;

    VSTGUI::CKnob* getRetuneKnob() const { return retuneKnob; }
    VSTGUI::CTextLabel* getRetuneDisplay() const { return retuneDisplay; }

protected:
    // The knobs show the step the effect took, not the host value it was given.
    void applyControl(VstInt32 index, float value) override;
    int32_t defaultKnobMode() const override { return 2; }

private:
    VSTGUI::CKnob* retuneKnob = nullptr;
    VSTGUI::CTextLabel* retuneDisplay = nullptr;
};
