// Loads the plug-in library the way a VST 2.x host does and talks to it through its record.
#pragma once

#include "hostinterface.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

class PluginLoadError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Up to N events for effProcessEvents, made without allocating.
template <int N> struct MidiEvents
{
    VstMidiEvent midi[N] = {};
    VstEventList<N> list;
    // A MIDI event, or one of another type or byteSize with these bytes; none past N.
    void add(VstInt32 deltaFrames, std::array<unsigned char, 3> bytes, VstInt32 type = kVstMidiType,
             VstInt32 byteSize = sizeof(VstMidiEvent))
    {
        if (list.numEvents == N) return;
        VstMidiEvent& e = midi[list.numEvents];
        e = {type, byteSize, deltaFrames, 0, 0, 0, {}, 0, 0, 0, 0};
        std::copy(bytes.begin(), bytes.end(), e.midiData);
        list.events[list.numEvents++] = reinterpret_cast<VstEvent*>(&e);
    }
};

class PluginHost
{
public:
    struct HostCall
    {
        VstInt32 opcode;
        VstInt32 index;
        VstIntPtr value;
        float opt;
    };
    // A MIDI message the plug-in sent, at its frame of the stream this host processed.
    struct SentMidi
    {
        int64_t frame;
        std::array<unsigned char, 3> bytes;
        bool operator==(const SentMidi& o) const { return frame == o.frame && bytes == o.bytes; }
    };

    // Loads the library and creates the effect through entryName ("VSTPluginMain" or "main").
    // Throws PluginLoadError with a readable message when either fails.
    explicit PluginHost(const std::string& libraryPath,
                        const std::string& entryName = "VSTPluginMain",
                        VstIntPtr versionAnswer = 2400);
    ~PluginHost(); // closes the effect (effClose) and unloads the library
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    AEffect* effect() const { return effect_; }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);

    void setParameter(VstInt32 index, float value);
    float getParameter(VstInt32 index);
    std::string parameterName(VstInt32 index);
    std::string parameterDisplay(VstInt32 index);
    std::string parameterLabel(VstInt32 index);
    std::string effectName();
    std::string vendorString();
    std::string productString();

    void setSampleRate(float rate);
    void resume();
    void suspend();
    // Mono processing through the record's process-replacing function; in may equal out.
    void process(const float* in, float* out, VstInt32 frames);

    // The MIDI the plug-in sent through audioMasterProcessEvents from process calls, up to 4096
    // messages, kept without allocating or locking (and not among hostCalls).
    std::vector<SentMidi> sentMidi() const;

    // Calls the plug-in made to the host callback, in order (thread-safe).
    std::vector<HostCall> hostCalls() const;
    void clearHostCalls();

    // Closes the effect now (effClose) and returns the dispatcher's answer.
    VstIntPtr close();

private:
    static VstIntPtr HALVERN_CALLBACK hostCallback(AEffect* effect, VstInt32 opcode,
                                                   VstInt32 index, VstIntPtr value, void* ptr,
                                                   float opt);
    std::string textQuery(VstInt32 opcode, VstInt32 index, size_t capacity);

    void* library_ = nullptr;
    AEffect* effect_ = nullptr;
    VstIntPtr versionAnswer_;
    mutable std::mutex callsMutex_;
    std::vector<HostCall> calls_;
    int64_t framesProcessed_ = 0;
    std::vector<SentMidi> sentMidi_ = std::vector<SentMidi>(4096);
    std::atomic<size_t> sentMidiCount_{0};
};
