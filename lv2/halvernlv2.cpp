// The LV2 plug-in: the effect object of the VST 2.x plug-in behind LV2's entry points. The host's
// control ports become the effect's parameters at the start of each run() call and its audio
// goes through the effect's processReplacing. Which effect, and its ports, is the bundle's
// PluginKind (lv2kinds.h). Where it has MIDI, this is the effect's VST 2.x host for it too: the
// input sequence's MIDI events reach it through effProcessEvents, and what it sends through
// audioMasterProcessEvents goes into the output sequence.
#include "audioeffectx.h"
#include "lv2kinds.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace
{

using namespace halvernlv2;

VstIntPtr HALVERN_CALLBACK answerEffect(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr,
                                        void* ptr, float);

// The most MIDI events one run call passes on; the rest are dropped.
constexpr int kMaxMidiIn = 512;

// Both effects run from 11 kHz to 384 kHz.
constexpr double kMinRate = 11000.0;
constexpr double kMaxRate = 384000.0;

struct Instance
{
    int rate = 0;
    std::unique_ptr<AudioEffectX> effect;
    bool ran = false; // audio was processed since the last activation

    const float* controls[kMaxControlPorts] = {};
    float applied[kMaxControlPorts] = {};
    bool appliedValid[kMaxControlPorts] = {};
    const float* input = nullptr;
    float* output = nullptr;
    float* latency = nullptr;

    // MIDI, where the layout has it.
    const LV2_Atom_Sequence* midiIn = nullptr;
    LV2_Atom_Sequence* midiOut = nullptr;    // connected port
    LV2_Atom_Sequence* midiOutNow = nullptr; // the same while run() may write to it
    uint32_t midiOutCapacity = 0;
    float* held = nullptr;
    LV2_URID midiEventUrid = 0;
    LV2_URID sequenceUrid = 0;
    VstMidiEvent midiEvents[kMaxMidiIn];
    VstEventList<kMaxMidiIn> midiList;
    // Notes on in the output sequence: a new activation ends them, whatever the effect did.
    bool sounding[128] = {};
    bool endSounding = false;

    void writeMidi(int64_t frame, const uint8_t* message)
    {
        struct
        {
            LV2_Atom_Event event;
            uint8_t message[3];
        } e;
        e.event.time.frames = frame;
        e.event.body.size = 3;
        e.event.body.type = midiEventUrid;
        std::memcpy(e.message, message, 3);
        if (!lv2_atom_sequence_append_event(midiOutNow, midiOutCapacity, &e.event)) return;
        sounding[message[1] & 0x7F] = (message[0] & 0xF0) == 0x90 && message[2] > 0;
    }

    // The effect's notes, note on and note off only; an off for a note not on is left out.
    void takeMidi(const VstEvents& events)
    {
        if (!midiOutNow) return;
        VstEvent* const* all = events.events; // numEvents of them, past the declared two
        for (VstInt32 k = 0; k < events.numEvents; ++k)
        {
            const VstEvent* event = all[k];
            if (!event || event->type != kVstMidiType) continue;
            uint8_t message[3];
            std::memcpy(message, reinterpret_cast<const VstMidiEvent*>(event)->midiData, 3);
            const int kind = message[0] & 0xF0;
            const bool on = kind == 0x90 && message[2] > 0;
            if (on || ((kind == 0x80 || kind == 0x90) && sounding[message[1] & 0x7F]))
                writeMidi(event->deltaFrames, message);
        }
    }
};

VstIntPtr HALVERN_CALLBACK answerEffect(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr,
                                        void* ptr, float)
{
    if (opcode == audioMasterProcessEvents && effect && effect->user && ptr)
    {
        static_cast<Instance*>(effect->user)->takeMidi(*static_cast<const VstEvents*>(ptr));
        return 1;
    }
    // Otherwise the effect asks for nothing it needs; it only wants to know it has a host.
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A suspended effect running at rate for instance, or null when it cannot run at that rate.
std::unique_ptr<AudioEffectX> makeEffect(Instance& instance)
{
    auto effect = kPlugin.make(answerEffect, instance.rate);
    if (effect) effect->getAeffect()->user = &instance;
    return effect;
}

const void* featureData(const LV2_Feature* const* features, const char* uri)
{
    for (const LV2_Feature* const* f = features; f && *f; ++f)
        if (std::strcmp((*f)->URI, uri) == 0) return (*f)->data;
    return nullptr;
}

bool sameValue(float a, float b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*,
                       const LV2_Feature* const* features)
{
    if (!(sampleRate >= kMinRate && sampleRate <= kMaxRate)) return nullptr;
    const auto* map = static_cast<const LV2_URID_Map*>(featureData(features, LV2_URID__map));
    if (kPlugin.ports.midi && !map) return nullptr; // urid:map is required
    try
    {
        auto instance = std::make_unique<Instance>();
        instance->rate = static_cast<int>(sampleRate);
        if (kPlugin.ports.midi)
        {
            instance->midiEventUrid = map->map(map->handle, LV2_MIDI__MidiEvent);
            instance->sequenceUrid = map->map(map->handle, LV2_ATOM__Sequence);
            for (int k = 0; k < kMaxMidiIn; ++k)
                instance->midiList.events[k] =
                    reinterpret_cast<VstEvent*>(&instance->midiEvents[k]);
        }
        instance->effect = makeEffect(*instance);
        if (!instance->effect) return nullptr;
        return instance.release();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data)
{
    auto* instance = static_cast<Instance*>(handle);
    const PortLayout& ports = kPlugin.ports;
    if (port < ports.controls)
        instance->controls[port] = static_cast<const float*>(data);
    else if (port == ports.input())
        instance->input = static_cast<const float*>(data);
    else if (port == ports.output())
        instance->output = static_cast<float*>(data);
    else if (port == ports.latency())
        instance->latency = static_cast<float*>(data);
    else if (ports.midi && port == ports.midiIn())
        instance->midiIn = static_cast<const LV2_Atom_Sequence*>(data);
    else if (ports.midi && port == ports.midiOut())
        instance->midiOut = static_cast<LV2_Atom_Sequence*>(data);
    else if (ports.midi && port == ports.held())
        instance->held = static_cast<float*>(data);
}

// LV2 wants an activation to forget everything heard before, which resume() does not do: an
// instance that already ran starts over with a new effect (activate may allocate). Should that
// fail, the old effect goes on.
void activate(LV2_Handle handle)
{
    auto* instance = static_cast<Instance*>(handle);
    if (instance->ran)
    {
        try
        {
            if (auto fresh = makeEffect(*instance))
            {
                instance->effect = std::move(fresh);
                for (bool& valid : instance->appliedValid)
                    valid = false;
                instance->ran = false;
            }
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    instance->effect->resume();
    instance->endSounding = true;
}

// The MIDI events of the input sequence to the effect (frame times as offsets into the call),
// and the output sequence made ready to take its notes, the notes left on ended first.
void exchangeMidi(Instance& instance)
{
    instance.midiOutNow = nullptr;
    if (LV2_Atom_Sequence* out = instance.midiOut)
    {
        // the host gives the capacity in the atom's size
        instance.midiOutCapacity = out->atom.size;
        if (instance.midiOutCapacity >= sizeof(LV2_Atom_Sequence_Body))
        {
            out->atom.type = instance.sequenceUrid;
            out->body.unit = 0;
            out->body.pad = 0;
            lv2_atom_sequence_clear(out);
            instance.midiOutNow = out;
        }
    }
    if (instance.endSounding && instance.midiOutNow)
    {
        for (uint8_t key = 0; key < 128; ++key)
        {
            const uint8_t off[3] = {0x80, key, 0};
            if (instance.sounding[key]) instance.writeMidi(0, off);
        }
        instance.endSounding = false;
    }

    const LV2_Atom_Sequence* in = instance.midiIn;
    if (!in) return;
    int count = 0;
    LV2_ATOM_SEQUENCE_FOREACH(in, event)
    {
        if (count == kMaxMidiIn) break;
        if (event->body.type != instance.midiEventUrid || event->body.size < 3) continue;
        VstMidiEvent& e = instance.midiEvents[count++];
        std::memset(&e, 0, sizeof e);
        e.type = kVstMidiType;
        e.byteSize = sizeof e;
        e.deltaFrames =
            static_cast<VstInt32>(std::clamp<int64_t>(event->time.frames, INT32_MIN, INT32_MAX));
        std::memcpy(e.midiData, LV2_ATOM_BODY_CONST(&event->body), 3);
    }
    if (count == 0) return;
    instance.midiList.numEvents = count;
    instance.effect->dispatcher(effProcessEvents, 0, 0, instance.midiList.get(), 0.0f);
}

// Audio thread: no lock, no allocation and no system call here; the controls reach the effect
// before the call's first sample, as a VST 2.x host's setParameter before processReplacing.
void run(LV2_Handle handle, uint32_t sampleCount)
{
    auto* instance = static_cast<Instance*>(handle);
    AudioEffectX& effect = *instance->effect;
    for (uint32_t k = 0; k < kPlugin.ports.controls; ++k)
    {
        if (!instance->controls[k]) continue;
        const float value = *instance->controls[k];
        if (instance->appliedValid[k] && sameValue(value, instance->applied[k])) continue;
        effect.setParameter(static_cast<VstInt32>(k), hostValueOfPort(k, value));
        instance->applied[k] = value;
        instance->appliedValid[k] = true;
    }
    if (instance->latency)
        *instance->latency = static_cast<float>(effect.getAeffect()->initialDelay);
    const bool audio = sampleCount > 0 && instance->input && instance->output;
    if (kPlugin.ports.midi)
    {
        if (audio)
            exchangeMidi(*instance);
        else if (instance->midiOut &&
                 instance->midiOut->atom.size >= sizeof(LV2_Atom_Sequence_Body))
        {
            instance->midiOut->atom.type = instance->sequenceUrid;
            lv2_atom_sequence_clear(instance->midiOut); // nothing this call
        }
    }
    if (audio)
    {
        float* inputs[1] = {const_cast<float*>(instance->input)};
        float* outputs[1] = {instance->output};
        effect.processReplacing(inputs, outputs, static_cast<VstInt32>(sampleCount));
        instance->ran = true;
    }
    instance->midiOutNow = nullptr;
    if (instance->held && kPlugin.heldNotes)
        *instance->held = static_cast<float>(kPlugin.heldNotes(effect));
}

void deactivate(LV2_Handle handle)
{
    static_cast<Instance*>(handle)->effect->suspend();
}

void cleanup(LV2_Handle handle)
{
    delete static_cast<Instance*>(handle);
}

const void* extensionData(const char*)
{
    return nullptr;
}

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    static const LV2_Descriptor descriptor = {kPlugin.uri, instantiate, connectPort, activate,
                                              run,         deactivate,  cleanup,     extensionData};
    return index == 0 ? &descriptor : nullptr;
}
