// Keys held on a MIDI keyboard, on any channel, and the pitch classes they hold (bit 0 = A, as
// LiveControls::heldNotes takes them).
//
// Real-time: no allocation, no lock, no system call.
#pragma once

#include "hostinterface.h"

#include <cstdint>

class MidiKeys
{
public:
    enum class Kind : uint8_t
    {
        None,
        Press,
        Release,
        ReleaseAll,
    };
    struct Message
    {
        Kind kind = Kind::None;
        uint8_t key = 0;
    };

    // Hosts fill byteSize with the whole event (32) or with what follows type and byteSize (24).
    static constexpr VstInt32 kMinEventBytes =
        static_cast<VstInt32>(sizeof(VstMidiEvent) - 2 * sizeof(VstInt32));

    // What an event does to the keys: note on (velocity 0 is a note off), note off, all notes off
    // (CC 123). Anything else, and a malformed event, does nothing (Kind::None).
    static Message read(const VstEvent* event);

    void apply(Message message);
    void releaseAll();
    uint16_t pitchClasses() const { return mask; }

private:
    bool held[128] = {};
    uint8_t keysOfClass[12] = {};
    uint16_t mask = 0;
};
