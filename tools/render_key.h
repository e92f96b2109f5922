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
    double confidence = 0.0; // correlation of the take's notes with the key's profile, 0 .. 1
    // What to tune to: the notes of the key's scale (a minor key's seventh natural or raised,
    // as the take fits) that the take dwells on; every note when undecided.
    NoteSet notes{};
    std::string reason; // why no key was named
};

// A note of the key is tuned to when the steady notes nearest it fill at least this share of the
// time in steady notes.
constexpr double kDwellShare = 0.04;

KeyEstimate findKey(const PitchTrack& track);

// "key: F# minor (confidence 0.83)", or the one line that says why there is none.
std::string describeKey(const KeyEstimate& key);

// "F# minor".
std::string keyName(const KeyEstimate& key);

} // namespace render
