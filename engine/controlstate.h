// The control values one analysis frame is processed with.
#pragma once

#include <cstdint>

struct ControlState
{
    float pitchCents = 0.0f;   // multiple of 10; -1200..+1200 for host values in 0..1
    float formantCents = 0.0f; // same steps and range
    uint8_t scaleOn = 0;       // snap each frame's f0 to the enabled notes
    // noteOn[k]: the note k semitones above A is enabled (0 = A, 3 = C, 11 = G#)
    uint8_t noteOn[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
};
