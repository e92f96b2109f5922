// The note a voice is corrected to, and the correction's approach to it over the Retune time.
//
// The note is the nearest lit one, held with hysteresis so that a voice singing near halfway
// between two notes, with vibrato, keeps one of them. While the voice moves (a new phrase, a
// glide) the nearest note is followed freely; once it has stayed the nearest for kSettleSeconds
// it is held: another note is then taken at once only when the voice has clearly moved
// (kClearCents nearer to it than to the held note), otherwise only after the voice has stayed
// nearer to it for kHoldSeconds.
//
// The correction (cents from the voice to the note) is followed by a one-pole glide whose time
// constant is a third of the Retune time: it covers 95 % of a jump in the Retune time, and at 0 it
// is immediate and complete.
//
// Real-time: no allocation, no lock, no system call.
#pragma once

#include "controlstate.h"

class NoteChooser
{
public:
    static constexpr double kClearCents = 40.0;
    static constexpr double kHoldSeconds = 0.12;
    static constexpr double kSettleSeconds = 0.06;

    // Ends a voiced stretch: the next one chooses its note afresh.
    void release();

    // One step of interval seconds for a voice at voiceCents (cents from A 440 Hz, the Pitch
    // offset included). Returns the correction in cents to add to the voice: 0 with Scale off or
    // no note lit.
    double step(double voiceCents, const ControlState& controls, double retuneMs, double interval);

    // The held note in semitones from A 440 Hz; valid while holding() is true.
    int note() const { return heldNote; }
    // How long ago (seconds) the voice reached the held note: a note taken after the hold time
    // was reached that long before it was taken.
    double reachedSecondsAgo() const { return heldSeconds + reachedBefore; }
    bool holding() const { return hasNote; }

private:
    void take(int note, double reachedBefore = 0.0);

    bool hasNote = false;
    int heldNote = 0;
    int candidate = 0;
    double candidateSeconds = 0.0;
    double heldSeconds = 0.0;   // since the held note was taken
    double reachedBefore = 0.0; // how long before it was taken the voice had reached it
    double correction = 0.0;
};

// The lit note (semitones from A 440 Hz) nearest to cents, the lower one on a tie; false when no
// note is lit.
bool nearestLitNote(const ControlState& controls, double cents, int& note);
