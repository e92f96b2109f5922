// What counts as a sung note: a voiced stretch that settles on one semitone for kSettleSeconds
// opens it; it ends when the voice stops or settles on another semitone. Used for the plug-in's
// MIDI out and the renderer's notes file alike.
//
// Real-time: no allocation, no lock, no system call.
#pragma once

#include <cstdint>

struct SungNoteEvent
{
    int64_t sample;   // where the note starts or ends, absolute input samples
    int64_t detected; // the input sample at which that became known (sample <= detected)
    int note;         // MIDI note number
    int velocity;     // 1..127 for a start, 0 for an end
};

class SungNotes
{
public:
    static constexpr double kSettleSeconds = 0.05;
    // A gap in the voicing shorter than this (a tracker's dropout) does not end the note.
    static constexpr double kGapSeconds = 0.03;

    explicit SungNotes(int rate)
        : settleSamples(static_cast<int64_t>(kSettleSeconds * rate)),
          gapSamples(static_cast<int64_t>(kGapSeconds * rate))
    {
    }

    // One analysis step describing input sample `time` (ascending from call to call), detected at
    // input sample `now`: voiced or not, the semitone it is on (MIDI number), the input sample
    // where the voice reached that semitone (<= time) and its RMS level. Writes at most two
    // events (an end, then a start) and returns how many.
    int step(int64_t time, int64_t now, bool voiced, int note, int64_t reached, double level,
             SungNoteEvent* events);
    // Ends an open note at `time` (the end of a stream); returns 0 or 1 event.
    int finish(int64_t time, int64_t now, SungNoteEvent* events);
    void reset();

    bool open() const { return openNote >= 0; }

private:
    int64_t settleSamples, gapSamples;
    int openNote = -1;
    int64_t silentSince = -1; // start of the current unvoiced stretch, -1 while voiced
    int settling = -1;        // semitone the voice is on now, -1 = unvoiced
    int64_t settleStart = 0;  // where it got there
    int64_t openStart = 0;    // where the open note started
    double settleLevel = 0.0; // loudest level since
};

// MIDI velocity for an RMS level: 1 at -60 dBFS and below, 127 at 0 dBFS.
int velocityForLevel(double level);
