#include "livegui.h"

#include "audioeffect.h"
#include "cbitmap.h"
#include "cknob.h"
#include "conoffbutton.h"
#include "cparamdisplay.h"
#include "sharedcontrols.h"

#include <cmath>

using namespace VSTGUI;
using namespace halvernparams;

namespace
{
constexpr int32_t kLiveBackground = 110;

// One notch: a semitone of the 24-semitone range, 10 ms of the 400 ms one.
constexpr float kShiftNotch = 1.0f / 24.0f;
constexpr float kRetuneNotch = 10.0f / kMaxRetuneMs;
} // namespace

LiveGui::LiveGui(AudioEffect* effect) : VstGui(effect, kRetune + 1, kLiveBackground) {}

bool LiveGui::open(void* parentWindow)
{
    VstGui::open(parentWindow);
    for (CKnob* knob : {getPitchKnob(), getFormantKnob()})
    {
        knob->setWheelInc(kShiftNotch);
        knob->setChangeOnlyOnDrag(true);
    }

    retuneKnob = makeKnob(64, 120, kRetune);
    retuneKnob->setWheelInc(kRetuneNotch);
    retuneKnob->setDefaultValue(hostFromRetuneMs(kDefaultRetuneMs));
    retuneKnob->setChangeOnlyOnDrag(true);

    retuneDisplay = makeReadout(CRect(112, 138, 144, 150), kRetune);
    shownHeld = 0;
    showHeldNotes();
    return true;
}

void LiveGui::close()
{
    VstGui::close();
    shownHeld = 0;
    retuneKnob = nullptr;
    retuneDisplay = nullptr;
}

void LiveGui::idle()
{
    showHeldNotes();
    VstGui::idle();
}

void LiveGui::showHeldNotes()
{
    if (!getFrame() || !heldSource) return;
    const int held = heldSource->load(std::memory_order_relaxed) & 0xFFF;
    if (held == shownHeld) return;
    shownHeld = held;
    for (int i = 0; i < 12; ++i) // lamp i is C + i; bit 0 of the mask is A
    {
        COnOffButton* lamp = getNoteSwitch(i);
        lamp->setValue(held ? static_cast<float>((held >> ((i + 3) % 12)) & 1)
                            : effect->getParameter(kFirstNote + i));
        lamp->setDirty();
    }
}

void LiveGui::setParameter(VstInt32 index, float value)
{
    if (index == kPitch || index == kFormant)
        value = hostValueInStep(static_cast<int>(std::lround((value - 0.5f) * 240.0f)));
    VstGui::setParameter(index, value);
    // A lamp clicked while keys are held changes its switch; the lamp shows the keys again.
    if (shownHeld > 0 && index >= kFirstNote && index < kFirstNote + 12) shownHeld = -1;
}

void LiveGui::applyControl(VstInt32 index, float value)
{
    if (!getFrame()) return;
    if (index == kRetune)
    {
        retuneKnob->setValue(effect->getParameter(kRetune));
        showDisplay(retuneDisplay, kRetune);
        return;
    }
    if (index == kPitch || index == kFormant) value = effect->getParameter(index);
    // the switch changed under held keys shows when they are released
    if (shownHeld != 0 && index >= kFirstNote && index < kFirstNote + 12) return;
    VstGui::applyControl(index, value);
}
