// Halvern Live's streaming voice engine: pitch tracking, note choice, and pitch-synchronous
// resynthesis of a mono voice as samples arrive, at a short fixed delay.
//
// Threads and the real-time contract:
// - The constructor sizes and allocates everything for one sample rate (std::bad_alloc when it
//   cannot); call it off the audio thread.
// - process() and reset() allocate nothing, take no lock and make no system call. Output depends
//   only on the samples and controls given, never on how the stream is cut into calls.
#pragma once

#include "controlstate.h"
#include "sungnotes.h"

#include <cstdint>
#include <memory>

// The controls one call is processed with: Halvern's fifteen, and the Retune time.
struct LiveControls
{
    ControlState state;
    float retuneMs = 50.0f; // 0 = immediate and complete correction; longer glides to the note
    // Keys held on a MIDI keyboard, by pitch class as in noteOn (bit 0 = A): while any is held,
    // they are the notes corrected to, whatever the lamps and the Scale switch say.
    uint16_t heldNotes = 0;
};

class LiveVoice
{
public:
    static constexpr int kMinRate = 11000;
    static constexpr int kMaxRate = 384000;

    // The fixed delay of the output behind the input: 512 samples at 44.1 kHz, the same time at
    // every rate.
    static int latencyForRate(int rate);

    explicit LiveVoice(int rate);
    ~LiveVoice();
    LiveVoice(const LiveVoice&) = delete;
    LiveVoice& operator=(const LiveVoice&) = delete;

    int rate() const;
    int latency() const;

    // Forgets the stream: silence in, silence out, as after construction.
    void reset();

    // Audio thread. Reads count samples from in and writes count to out (the two may be the same
    // array). Non-finite input samples are taken as silence.
    void process(const float* in, float* out, int count, const LiveControls& controls);

    // Audio thread. The sung notes found so far (see SungNotes), oldest first: copies up to
    // capacity of them into events and forgets those. Notes not taken before 64 more are found
    // are lost, oldest first. The note sent is the corrected one while correction is on.
    int takeNoteEvents(SungNoteEvent* events, int capacity);
    // Ends an open sung note at the last sample processed (the end of a take, or a pause).
    void endNotes();
    // Input samples processed since construction or reset.
    int64_t samplesProcessed() const;

private:
    struct State;
    std::unique_ptr<State> s;
};
