// The fifteen controls Halvern and Halvern Live share (Pitch, Formant, Scale, Scale C … Scale B)
// and Live's Retune: how host values become cents, switches and milliseconds, and the names and
// texts a host shows for them. One mapping for both effects, so the two never drift apart.
#pragma once

#include "controlstate.h"
#include "hostinterface.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace halvernparams
{

constexpr int kCount = 15; // Pitch, Formant, Scale, Scale C … Scale B
constexpr int kPitch = 0;
constexpr int kFormant = 1;
constexpr int kScale = 2;
constexpr int kFirstNote = 3;

constexpr float kMaxRetuneMs = 400.0f;
constexpr float kDefaultRetuneMs = 50.0f;

// Copies at most maxLength characters and always terminates.
void copyText(char* dst, const char* src, size_t maxLength);

// Host value to cents in 10-cent steps, truncated toward zero; saturates instead of overflowing.
float centsFromHost(float v);
float hostFromCents(float cents);
// The host value in the middle of a step's interval (0 and 1 for the end steps), which lands on
// that step however the arithmetic rounds.
float hostValueInStep(int steps);
// On when the value rounds to a non-zero integer; a NaN counts as off.
uint8_t switchFromHost(float v);

// Retune: 0..1 spans 0..400 ms, taken to the nearest whole ms; a NaN leaves the default.
float retuneMsFromHost(float v);
float hostFromRetuneMs(float ms);
// "50": whole ms, the unit is the parameter's label.
void retuneDisplay(float ms, char* text);

} // namespace halvernparams

// The current controls, written field by field by the parameter thread and copied whole by the
// audio thread. Relaxed atomics: a copy may mix old and new fields during a change, never tear one.
class SharedControls
{
public:
    SharedControls();
    ControlState load() const;

    // Any thread; indices 0..14 only: set ignores others, get reads them as 0, display and name
    // leave the text alone and return false.
    void set(VstInt32 index, float value);
    float get(VstInt32 index) const;
    bool display(VstInt32 index, char* text) const;
    static bool name(VstInt32 index, char* text);

    std::atomic<float> pitchCents;
    std::atomic<float> formantCents;
    std::atomic<uint8_t> scaleOn;
    std::atomic<uint8_t> noteOn[12];
};
