#include "sharedcontrols.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace halvernparams
{

namespace
{

const char* const kNames[kCount] = {"Pitch",   "Formant",  "Scale",   "Scale C",  "Scale C#",
                                    "Scale D", "Scale D#", "Scale E", "Scale F",  "Scale F#",
                                    "Scale G", "Scale G#", "Scale A", "Scale A#", "Scale B"};

// Index of noteOn switched by parameter index 3..14.
int noteOfParam(VstInt32 index)
{
    return index % 12;
}

} // namespace

void copyText(char* dst, const char* src, size_t maxLength)
{
    size_t n = std::strlen(src);
    if (n > maxLength) n = maxLength;
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

// The step arithmetic is single precision widened once; values whose step count leaves the
// 32-bit range (or NaN) saturate instead of overflowing.
float centsFromHost(float v)
{
    const float centred = v - 0.5f;
    const double steps = static_cast<double>(centred) * 240.0;
    int32_t whole;
    if (std::isnan(steps))
        whole = 0;
    else if (steps >= 2147483647.0)
        whole = std::numeric_limits<int32_t>::max();
    else if (steps <= -2147483648.0)
        whole = std::numeric_limits<int32_t>::min();
    else
        whole = static_cast<int32_t>(steps);
    return static_cast<float>(whole) * 10.0f;
}

float hostFromCents(float cents)
{
    return cents * (1.0f / 2400.0f) + 0.5f;
}

float hostValueInStep(int steps)
{
    if (steps >= 120) return 1.0f;
    if (steps <= -120) return 0.0f;
    if (steps == 0) return 0.5f;
    const double middle = steps > 0 ? steps + 0.5 : steps - 0.5;
    return static_cast<float>(0.5 + middle / 240.0);
}

uint8_t switchFromHost(float v)
{
    return std::fabs(static_cast<double>(v) + 0.5) >= 1.0 ? 1 : 0;
}

float retuneMsFromHost(float v)
{
    if (std::isnan(v)) return kDefaultRetuneMs;
    const double within = std::clamp(static_cast<double>(v), 0.0, 1.0);
    return static_cast<float>(std::round(within * kMaxRetuneMs));
}

float hostFromRetuneMs(float ms)
{
    return ms / kMaxRetuneMs;
}

void retuneDisplay(float ms, char* text)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(ms));
    copyText(text, buffer, kVstMaxParamStrLen);
}

} // namespace halvernparams

using namespace halvernparams;

SharedControls::SharedControls() : pitchCents(0.0f), formantCents(0.0f), scaleOn(0)
{
    for (auto& note : noteOn)
        note.store(1, std::memory_order_relaxed);
}

ControlState SharedControls::load() const
{
    ControlState s;
    s.pitchCents = pitchCents.load(std::memory_order_relaxed);
    s.formantCents = formantCents.load(std::memory_order_relaxed);
    s.scaleOn = scaleOn.load(std::memory_order_relaxed);
    for (int k = 0; k < 12; ++k)
        s.noteOn[k] = noteOn[k].load(std::memory_order_relaxed);
    return s;
}

void SharedControls::set(VstInt32 index, float value)
{
    if (index == kPitch)
        pitchCents.store(centsFromHost(value), std::memory_order_relaxed);
    else if (index == kFormant)
        formantCents.store(centsFromHost(value), std::memory_order_relaxed);
    else if (index == kScale)
        scaleOn.store(switchFromHost(value), std::memory_order_relaxed);
    else if (index >= kFirstNote && index < kCount)
        noteOn[noteOfParam(index)].store(switchFromHost(value), std::memory_order_relaxed);
}

float SharedControls::get(VstInt32 index) const
{
    if (index == kPitch) return hostFromCents(pitchCents.load(std::memory_order_relaxed));
    if (index == kFormant) return hostFromCents(formantCents.load(std::memory_order_relaxed));
    if (index == kScale) return scaleOn.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    if (index >= kFirstNote && index < kCount)
        return noteOn[noteOfParam(index)].load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    return 0.0f;
}

bool SharedControls::display(VstInt32 index, char* text) const
{
    if (index < 0 || index >= kCount) return false;
    if (index == kPitch || index == kFormant)
    {
        const float cents =
            (index == kPitch ? pitchCents : formantCents).load(std::memory_order_relaxed);
        const double semitones = static_cast<double>(cents) * 0.01;
        char buffer[64];
        int length = std::snprintf(buffer, sizeof buffer, "%+3.1f", semitones);
        // Values far outside the knob's range still fit the interface's 8 characters.
        if (length < 0 || length > kVstMaxParamStrLen)
            std::snprintf(buffer, sizeof buffer, "%+.1e", semitones);
        copyText(text, buffer, kVstMaxParamStrLen);
        return true;
    }
    copyText(text, get(index) != 0.0f ? "ON" : "OFF", kVstMaxParamStrLen);
    return true;
}

bool SharedControls::name(VstInt32 index, char* text)
{
    if (index < 0 || index >= kCount) return false;
    copyText(text, kNames[index], kVstMaxParamStrLen);
    return true;
}
