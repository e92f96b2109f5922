// Halvern Live's editor: Halvern's, on a taller background with a Retune knob and read-out below
// Formant. Knobs drag up and down unless the host asks for circular ones, a press that does not
// move changes nothing, and a wheel notch is one semitone (Pitch, Formant) or 10 ms (Retune), a
// tenth of that with Shift. While keys are held on a MIDI keyboard, the note lamps show them.
#pragma once

#include "vstgui.h"

#include <atomic>
#include <cstdint>

class LiveGui : public VstGui
{
public:
    static constexpr VstInt32 kRetune = 15;

    explicit LiveGui(AudioEffect* effect);

    bool open(void* parentWindow) override;
    void close() override;
    void idle() override;

    // The held keys' pitch classes (bit 0 = A), polled at idle: while any is held the twelve
    // lamps show them instead of the note switches, which keep their values.
    void watchHeldNotes(const std::atomic<uint16_t>* source) { heldSource = source; }

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
    void showHeldNotes();

    const std::atomic<uint16_t>* heldSource = nullptr;
    int shownHeld = 0; // the mask the lamps show; 0: the switches, -1: to be drawn again
    VSTGUI::CKnob* retuneKnob = nullptr;
    VSTGUI::CTextLabel* retuneDisplay = nullptr;
};
