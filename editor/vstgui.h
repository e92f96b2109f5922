// Halvern's editor: two knobs with read-outs, the Scale switch and twelve note switches, each
// bound to one parameter of the effect. Halvern Live's editor (livegui.h) builds on it.
#pragma once

#include "aeffguieditor.h"
#include "ccontrol.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace VSTGUI
{
class CBitmap;
class CKnob;
class COnOffButton;
class CTextLabel;
} // namespace VSTGUI

class VstGui : public AEffGUIEditor, public VSTGUI::CControlListener
{
public:
    static constexpr int kNumParams = 15;
    static constexpr int kMaxParams = 16; // the most any derived editor binds

    explicit VstGui(AudioEffect* effect);
    ~VstGui() override;

    bool open(void* parentWindow) override;
    void close() override;
    void idle() override;

    // A control moved: the effect stores it and tells the host to record automation.
    void setParameter(VstInt32 index, float value) override;

    void valueChanged(VSTGUI::CDrawContext* context, VSTGUI::CControl* control) override;
    int32_t controlModifierClicked(VSTGUI::CDrawContext*, VSTGUI::CControl*, int32_t) override
    {
        return 0;
    }

    // Called by the effect's parameter setter with the host value as given. Draws nothing: the
    // control takes the value, its read-out the effect's display text, and both are redrawn at
    // the next idle pass. From any thread other than the editor's, the change is only recorded
    // (atomics, no allocation, no lock) and applied at the editor's next idle pass.
    void updateControl(VstInt32 index, float value);

    VSTGUI::CKnob* getPitchKnob() const { return pitchKnob; }
    VSTGUI::CKnob* getFormantKnob() const { return formantKnob; }
    VSTGUI::CTextLabel* getPitchDisplay() const { return pitchDisplay; }
    VSTGUI::CTextLabel* getFormantDisplay() const { return formantDisplay; }
    VSTGUI::COnOffButton* getScaleSwitch() const { return scaleSwitch; }
    VSTGUI::COnOffButton* getNoteSwitch(int i) const
    {
        return noteSwitches ? noteSwitches[i] : nullptr;
    }

protected:
    // An editor of numParams parameters (at most kMaxParams) on the background picture of
    // resource id backgroundId, whose size is the editor's.
    VstGui(AudioEffect* effect, int numParams, int32_t backgroundId);

    // Editor thread: the control of index takes value, its read-out the effect's text.
    virtual void applyControl(VstInt32 index, float value);
    // A knob for index with its top left corner at (left, top), added to the frame and set to the
    // effect's value.
    VSTGUI::CKnob* makeKnob(int32_t left, int32_t top, VstInt32 index);
    // A read-out of the effect's display text of index: white Arial 11 in a black box.
    VSTGUI::CTextLabel* makeReadout(const VSTGUI::CRect& box, VstInt32 index);
    void showDisplay(VSTGUI::CTextLabel* display, VstInt32 index);

private:
    void applyPendingUpdates();

    int numParams;
    VSTGUI::CBitmap* background = nullptr;
    VSTGUI::CKnob* pitchKnob = nullptr;
    VSTGUI::CKnob* formantKnob = nullptr;
    VSTGUI::CTextLabel* pitchDisplay = nullptr;
    VSTGUI::CTextLabel* formantDisplay = nullptr;
    VSTGUI::COnOffButton* scaleSwitch = nullptr;
    VSTGUI::COnOffButton** noteSwitches = nullptr; // entry i: parameter 3 + i

    // Updates from other threads, applied on the editor's thread.
    std::atomic<float> pendingValues[kMaxParams];
    std::atomic<uint32_t> pendingMask{0};
    std::atomic<std::thread::id> editorThread{};
};
