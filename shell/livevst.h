// The Halvern Live effect: one mono input, one mono output, Halvern's fifteen parameters and
// Retune, and LiveVoice's short fixed delay.
//
// Threads and the real-time contract:
// - Audio thread (processReplacing): loads one control snapshot and hands the whole host block to
//   LiveVoice::process. No allocation, no lock, no system call.
// - Dispatcher thread (construction, setSampleRate, suspend, resume, close): builds the LiveVoice
//   for the current rate; a new rate builds a new one while suspended.
// - Any thread (setParameter, getParameter): the controls are relaxed atomics.
// MIDI would arrive through processEvents and canDo("receiveVstMidiEvent"); neither is taken yet.
#pragma once

#include "audioeffectx.h"
#include "livevoice.h"
#include "sharedcontrols.h"

#include <atomic>
#include <memory>

class LiveVST : public AudioEffectX
{
public:
    static constexpr int kNumParams = halvernparams::kCount + 1;
    static constexpr VstInt32 kRetune = halvernparams::kCount;
    static constexpr VstInt32 kUniqueID = 0x48764C76; // 'HvLv'

    // Throws std::bad_alloc when the voice cannot be built.
    explicit LiveVST(audioMasterCallback audioMaster);

    // Audio thread: no allocation, no lock, no system call.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // Dispatcher thread. A new rate builds a new voice at once while suspended, else at the next
    // resume, and the host hears of the new delay through audioMasterIOChanged. Rates outside
    // LiveVoice's range, or a failed allocation, keep the previous voice. Resume starts the
    // stream over, so nothing heard before a suspend comes out after it.
    void setSampleRate(float rate) override;
    void suspend() override;
    void resume() override;

    // Any thread. Stores the quantised value and tells the editor (which only marks itself dirty).
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;

    int rate() const { return voice->rate(); }

private:
    void applyRate(int rate);

    std::unique_ptr<LiveVoice> voice;
    bool resumed = false;
    int pendingRate = 0; // a rate set while resumed, applied at the next resume; 0 = none

    SharedControls controls;
    std::atomic<float> retuneMs{halvernparams::kDefaultRetuneMs};
};
