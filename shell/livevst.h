// The Halvern Live effect: one mono input, one mono output, Halvern's fifteen parameters and
// Retune, and LiveVoice's short fixed delay.
//
// MIDI: keys held on a keyboard (effProcessEvents, any channel) are the notes corrected to from
// the sample they arrive on; the notes sung go back to the host (audioMasterProcessEvents) at the
// output's time.
//
// Threads and the real-time contract:
// - Audio thread (processEvents, processReplacing): loads one control snapshot per host block and
//   hands the block to LiveVoice::process, cut where a key changes. No allocation, no lock, no
//   system call; the events in and out live in fixed arrays.
// - Dispatcher thread (construction, setSampleRate, suspend, resume, close): builds the LiveVoice
//   for the current rate; a new rate builds a new one while suspended.
// - Any thread (setParameter, getParameter, heldNotes): relaxed atomics.
#pragma once

#include "audioeffectx.h"
#include "livevoice.h"
#include "midikeys.h"
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

    // The most key events kept for one host block (the rest are dropped), and the most sung-note
    // events sent from one (the rest wait for the next).
    static constexpr int kMaxEventsIn = 512;
    static constexpr int kMaxEventsOut = 256;

    // Audio thread: no allocation, no lock, no system call. processEvents keeps the note on, note
    // off and all-notes-off events for the next processReplacing, which applies each at its
    // deltaFrames (clamped into the block) and sends the sung notes found in the block.
    VstInt32 processEvents(void* events) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // Dispatcher thread. A new rate builds a new voice at once while suspended, else at the next
    // resume, and the host hears of the new delay through audioMasterIOChanged. Rates outside
    // LiveVoice's range, or a failed allocation, keep the previous voice. Resume starts the
    // stream over, so nothing heard before a suspend comes out after it. Both release every key
    // and end the sung note, whose note off goes out at the start of the next block.
    void setSampleRate(float rate) override;
    void suspend() override;
    void resume() override;

    // Any thread. Stores the quantised value and tells the editor (which only marks itself dirty).
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    // "receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents", "sendVstMidiEvent": 1.
    VstInt32 canDo(const char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;

    int rate() const { return voice->rate(); }
    // Any thread: the pitch classes of the keys held at the end of the last block (bit 0 = A).
    uint16_t heldNotes() const { return heldMask.load(std::memory_order_relaxed); }

private:
    struct KeyEvent
    {
        VstInt32 frame;
        MidiKeys::Message message;
    };

    void applyRate(int rate);
    // Ends the sung note and keeps what the voice has not yet sent for the next block.
    void carryNotes();
    void releaseKeys();
    // One stretch of the block through the voice, and the sung notes it found queued to send.
    void processSpan(const float* in, float* out, VstInt32 from, VstInt32 to,
                     const LiveControls& controls, int64_t blockStart, VstInt32 blockLength);
    void queueNote(const SungNoteEvent& note, VstInt32 frame);

    std::unique_ptr<LiveVoice> voice;
    bool resumed = false;
    int pendingRate = 0; // a rate set while resumed, applied at the next resume; 0 = none

    SharedControls controls;
    std::atomic<float> retuneMs{halvernparams::kDefaultRetuneMs};

    MidiKeys keys;
    KeyEvent keyEvents[kMaxEventsIn];
    int keyEventCount = 0;
    std::atomic<uint16_t> heldMask{0};
    static_assert(std::atomic<uint16_t>::is_always_lock_free, "the editor reads it lock-free");

    VstMidiEvent sent[kMaxEventsOut];
    VstEventList<kMaxEventsOut> sentList;
    static constexpr int kMaxCarried = 80; // the voice keeps 64
    SungNoteEvent carried[kMaxCarried];
    int carriedCount = 0;
};
