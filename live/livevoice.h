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

#include <cstdint>
#include <memory>

// The controls one call is processed with: Halvern's fifteen, and the Retune time.
struct LiveControls
{
    ControlState state;
    float retuneMs = 50.0f; // 0 = immediate and complete correction; longer glides to the note
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

private:
    struct State;
    std::unique_ptr<State> s;
};
