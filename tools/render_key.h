// The key of a take, named from its pitch track by profile matching over the 24 major and minor
// keys, and the notes --scale auto tunes it to.
#pragma once

#include "render_options.h"
#include "render_pitch.h"

#include <string>

namespace render
{

struct KeyEstimate
{
    bool decided = false;
    int tonic = 0; // pitch class, 0 = C
    bool minor = false;
    double confidence = 0.0;  // correlation of the take's notes with the key's profile, 0 .. 1
    NoteSet scale{};          // the key's own scale (natural minor for a minor key)
    NoteSet notes{};          // what to tune to: the scale plus the notes held apart from it;
                              // every note when undecided
    double noteSeconds = 0.0; // voiced time in steady notes
    std::string reason;       // why no key was named
};

// A note outside the key's scale is kept when steady notes within this many cents of it fill at
// least kHeldShare of the time in steady notes.
constexpr double kHeldCents = 30.0;
constexpr double kHeldShare = 0.08;

KeyEstimate findKey(const PitchTrack& track);

// "key: F# minor (confidence 0.83)", or the one line that says why there is none.
std::string describeKey(const KeyEstimate& key);

// "F# minor".
std::string keyName(const KeyEstimate& key);

} // namespace render
