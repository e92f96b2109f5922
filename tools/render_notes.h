// The take's sung notes as a Standard MIDI File: found on the input with Halvern Live's own
// definition of a sung note (live/sungnotes.h), under the controls the take is rendered with,
// and written with libsmf so that any piano roll can edit them and --melody can take them back.
#pragma once

#include "controlstate.h"
#include "livevoice.h"

#include <string>
#include <vector>

namespace render
{

struct FoundNote
{
    double start = 0.0; // seconds from the take's start
    double end = 0.0;
    int midi = 60;
    int velocity = 64;
};

class NoteFinder
{
public:
    explicit NoteFinder(int rate);
    // The controls the notes are found under: Pitch and Scale as the plug-in has them, so the
    // notes are those the voice is corrected to (the nearest semitone with Scale off).
    void setControls(const ControlState& controls) { live.state = controls; }
    // The next count samples of the take.
    void feed(const float* samples, int count);
    // Ends the take; returns the notes by start time.
    std::vector<FoundNote> finish();

private:
    void take();

    LiveVoice voice;
    LiveControls live;
    int rate;
    std::vector<float> scratch;
    std::vector<FoundNote> notes;
    int openIndex = -1; // the note in notes still sounding, -1 = none
};

// Writes notes as a format-0 Standard MIDI File at 120 beats per minute, 960 ticks per beat, so
// that a tick is 1/1920 s of the take. Replaces an existing file only with force. Throws
// RenderError; nothing is left behind by a failure.
void writeNotesFile(const std::string& path, const std::vector<FoundNote>& notes, bool force);

} // namespace render
