// What the LV2 plug-ins and their UIs agree on: the URIs, the port layouts and how the semitone
// values on the Pitch and Formant ports and the milliseconds on Retune meet the effects' host
// values.
#pragma once

#include "sharedcontrols.h"

#include <cmath>
#include <cstdint>

namespace halvernlv2
{

// Chosen once; hosts store them in their sessions.
constexpr const char* kPluginUri = "urn:brakk:halvern";
constexpr const char* kUiUri = "urn:brakk:halvern:ui";
constexpr const char* kLivePluginUri = "urn:brakk:halvern-live";
constexpr const char* kLiveUiUri = "urn:brakk:halvern-live:ui";

// Ports 0 to 14 are the effect's parameters in its order, so a control port's index is the
// parameter's index; the audio and latency ports follow.
enum PortIndex : uint32_t
{
    kPortPitch = 0,
    kPortFormant = 1,
    kPortScale = 2,
    kPortFirstNote = 3,
    kPortControlCount = 15,
    kPortInput = 15,
    kPortOutput = 16,
    kPortLatency = 17,
    kPortCount = 18,
    kPortRetune = 15, // Halvern Live: Retune follows Halvern's fifteen, then audio and latency
};

// Where a bundle's ports lie: its control ports (its effect's parameters, in their order), then
// audio in, audio out and the latency port; with MIDI (Halvern Live), then MIDI in and out (atom
// sequences) and the held keys' pitch classes (an output control port, bit 0 = A).
struct PortLayout
{
    uint32_t controls;
    bool midi = false;
    constexpr uint32_t input() const { return controls; }
    constexpr uint32_t output() const { return controls + 1; }
    constexpr uint32_t latency() const { return controls + 2; }
    constexpr uint32_t midiIn() const { return controls + 3; }
    constexpr uint32_t midiOut() const { return controls + 4; }
    constexpr uint32_t held() const { return controls + 5; }
    constexpr uint32_t count() const { return controls + (midi ? 6 : 3); }
};
constexpr PortLayout kHalvernPorts{kPortControlCount};
constexpr PortLayout kLivePorts{kPortControlCount + 1, true};
constexpr uint32_t kMaxControlPorts = kPortControlCount + 1;

constexpr bool isShiftPort(uint32_t index)
{
    return index == kPortPitch || index == kPortFormant;
}

constexpr float kMaxShiftSemitones = 12.0f;

// The effect keeps shifts in 10-cent steps and takes the step by truncating (v - 0.5) * 240 for a
// host value v, so a host value in the middle of a step's interval lands on that step whatever
// the rounding of the arithmetic. Out-of-range and NaN shifts take the nearest end and 0.
inline float hostValueOfSemitones(float semitones)
{
    const float clamped = std::fmax(-kMaxShiftSemitones, std::fmin(kMaxShiftSemitones, semitones));
    const long steps = std::lround(static_cast<double>(clamped) * 10.0);
    // The end steps are hit exactly by 0 and 1; the middle of their interval lies outside 0..1.
    if (steps >= 120) return 1.0f;
    if (steps <= -120) return 0.0f;
    if (steps == 0) return 0.5f;
    const double middle = steps > 0 ? steps + 0.5 : steps - 0.5;
    return static_cast<float>(0.5 + middle / 240.0);
}

// Retune's milliseconds as the effect's host value; the effect takes the nearest whole ms in range.
inline float hostValueOfRetuneMs(float ms)
{
    return halvernparams::hostFromRetuneMs(ms);
}

// A control port's value as the effect's host value, for either bundle (port 15 is a control port
// of Halvern Live's only).
inline float hostValueOfPort(uint32_t port, float value)
{
    if (isShiftPort(port)) return hostValueOfSemitones(value);
    if (port == kPortRetune) return hostValueOfRetuneMs(value);
    return value;
}

// The step the effect takes for a host value in 0..1, by the same arithmetic.
inline int stepOfHostValue(float value)
{
    const float centred = value - 0.5f;
    return static_cast<int>(static_cast<double>(centred) * 240.0);
}

// The effect's host value of a step, as its getParameter reports it.
inline float hostValueOfStep(int step)
{
    return static_cast<float>(step) * 10.0f * (1.0f / 2400.0f) + 0.5f;
}

} // namespace halvernlv2
