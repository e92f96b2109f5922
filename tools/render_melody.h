// A melody from a Standard MIDI File, read with libsmf, and the switch changes that make the
// plug-in tune a take to it: Scale on with only the sounding note's switch lit.
#pragma once

#include "render_options.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace render
{

// A melody that cannot be used (unreadable file, no notes, no such track): exit status 2.
class MelodyError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct MelodyNote
{
    double start = 0.0; // seconds from the file's start, through its tempo map
    double end = 0.0;
    int midi = 60;
};

struct Melody
{
    std::string path;
    int track = 0;                 // 1-based
    std::vector<MelodyNote> notes; // by start time
    double offset = 0.0;           // seconds the notes were moved by shiftMelody
};

// Reads track `track` (1-based), or the first track that holds notes when it is 0. A note-on
// without its note-off ends with the track. Throws MelodyError.
Melody loadMelody(const std::string& path, int track);

// Moves the notes so that the file's time 0 falls at `seconds` into the take; what then lies
// before the take's start is cut off. Throws MelodyError when no note is left.
void shiftMelody(Melody& melody, double seconds);

// From sample `at` on, Scale is on with pitch class `pitchClass` alone, or off when it is -1.
struct SwitchChange
{
    int64_t at = 0;
    int pitchClass = -1;
};

// The sounding note is the latest started of those held; where none is, the take is left as
// sung, as it is past the melody's end. The first change is at sample 0.
std::vector<SwitchChange> melodySwitches(const Melody& melody, double rate);

// The pitch classes the melody uses.
NoteSet melodyNotes(const Melody& melody);

} // namespace render
