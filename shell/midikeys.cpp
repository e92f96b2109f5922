#include "midikeys.h"

MidiKeys::Message MidiKeys::read(const VstEvent* event)
{
    if (!event || event->type != kVstMidiType || event->byteSize < kMinEventBytes) return {};
    const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
    const auto status = static_cast<uint8_t>(midi->midiData[0]);
    const auto key = static_cast<uint8_t>(midi->midiData[1]);
    const auto value = static_cast<uint8_t>(midi->midiData[2]);
    // A data byte first is running status, which an event must not use.
    if (status < 0x80 || key >= 0x80 || value >= 0x80) return {};
    switch (status & 0xF0)
    {
    case 0x90:
        return {value ? Kind::Press : Kind::Release, key};
    case 0x80:
        return {Kind::Release, key};
    case 0xB0:
        if (key == 123) return {Kind::ReleaseAll, 0};
        return {};
    default:
        return {};
    }
}

void MidiKeys::apply(Message message)
{
    const int pitchClass = (message.key + 3) % 12; // MIDI 69 is A
    switch (message.kind)
    {
    case Kind::Press:
        if (held[message.key]) return;
        held[message.key] = true;
        ++keysOfClass[pitchClass];
        break;
    case Kind::Release:
        if (!held[message.key]) return;
        held[message.key] = false;
        --keysOfClass[pitchClass];
        break;
    case Kind::ReleaseAll:
        releaseAll();
        return;
    case Kind::None:
        return;
    }
    mask = 0;
    for (int k = 0; k < 12; ++k)
        if (keysOfClass[k]) mask |= static_cast<uint16_t>(1u << k);
}

void MidiKeys::releaseAll()
{
    for (bool& key : held)
        key = false;
    for (uint8_t& count : keysOfClass)
        count = 0;
    mask = 0;
}
