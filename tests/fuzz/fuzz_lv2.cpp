// libFuzzer target: the LV2 entry points driven as careless hosts drive them: instances at odd
// rates, ports connected in any order, to nothing or not at all, runs of no frames or very many,
// activate and deactivate storms, controls at NaN, infinity and far out of range; Live's MIDI in
// with events of any content, size and time, its MIDI out with room for few or none.
#include "fuzzreader.h"
#include "lv2ports.h"

#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace
{

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

double rate(FuzzReader& in)
{
    const double rates[] = {44100.0, 48000.0,  11000.0,  10999.999, 11025.5,  22050.0,
                            88200.0, 96000.0,  176400.0, 192000.0,  384000.0, 384000.001,
                            0.0,     -44100.0, 1e300,    kInf,      kNaN};
    const uint8_t pick = in.byte();
    if (pick < 2 * sizeof rates / sizeof rates[0])
        return rates[pick % (sizeof rates / sizeof rates[0])];
    return 11000.0 + in.uint32() % 373001;
}

float control(FuzzReader& in)
{
    const float values[] = {kNaN,  kInf,  -kInf,  1e30f,  -1e30f, 0.0f,  1.0f,
                            -1.0f, 12.0f, -12.0f, 12.05f, 0.5f,   3e-39f};
    const uint8_t pick = in.byte();
    if (pick < sizeof values / sizeof values[0]) return values[pick];
    return in.real();
}

// MIDI events are 1, sequences 2, anything else 3.
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri)
{
    return std::strcmp(uri, LV2_MIDI__MidiEvent) ? 2 + !!std::strcmp(uri, LV2_ATOM__Sequence) : 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzReader in(data, size);
    const LV2_Descriptor* d = lv2_descriptor(0);
    if (lv2_descriptor(1) != nullptr) __builtin_trap();
    const halvernlv2::PortLayout ports = std::strcmp(d->URI, halvernlv2::kLivePluginUri) == 0
                                             ? halvernlv2::kLivePorts
                                             : halvernlv2::kHalvernPorts;
    constexpr uint32_t kMaxFrames = 1 << 16;
    std::vector<float> audio(kMaxFrames), output(kMaxFrames);
    float controls[halvernlv2::kMaxControlPorts + 6] = {};
    long frameBudget = kMaxFrames; // keeps one input to a few analysis blocks
    uint64_t midiIn[64] = {}, midiOut[64] = {};
    auto* midiInSeq = reinterpret_cast<LV2_Atom_Sequence*>(midiIn);
    auto* midiOutSeq = reinterpret_cast<LV2_Atom_Sequence*>(midiOut);
    LV2_URID_Map map{nullptr, mapUri};
    const LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature* features[] = {&mapFeature, nullptr};

    LV2_Handle h = d->instantiate(d, rate(in), "", features);
    bool active = false;
    for (int step = 0; step < 96 && !in.empty(); ++step)
    {
        if (!h)
        {
            h = d->instantiate(d, rate(in), "", features);
            continue;
        }
        switch (in.byte() % 8)
        {
        case 0:
        {
            // Every port gets memory of its kind (as the host promises) or nothing; the audio
            // ports may share one buffer. Indices past the last port are ignored.
            const uint32_t port = in.byte() % (ports.count() + 3);
            const uint8_t pick = in.byte() % 3;
            void* where = nullptr;
            if (port == ports.input() || port == ports.output())
                where = pick == 0 ? nullptr : pick == 1 ? audio.data() : output.data();
            else if (ports.midi && (port == ports.midiIn() || port == ports.midiOut()))
                where = pick == 0 ? nullptr : port == ports.midiIn() ? midiInSeq : midiOutSeq;
            else if (pick != 0)
                where = &controls[port % ports.count()];
            d->connect_port(h, port, where);
            break;
        }
        case 1:
            controls[in.byte() % ports.count()] = control(in);
            break;
        case 2:
        case 3:
        {
            // A storm: many switches in a row, a run now and then between them.
            for (int k = in.byte() % 32; k >= 0; --k)
            {
                if (active)
                    d->deactivate(h);
                else
                    d->activate(h);
                active = !active;
            }
            break;
        }
        case 4:
        case 5:
        {
            const uint8_t kind = in.byte();
            uint32_t frames = kind % 4 == 0 ? 0 : in.uint32() % (kMaxFrames + 1);
            if (kind % 4 == 1) frames = kMaxFrames;
            if (static_cast<long>(frames) > frameBudget)
                frames = static_cast<uint32_t>(frameBudget);
            frameBudget -= frames;
            for (uint32_t k = 0; k < frames; ++k)
                audio[k] = static_cast<float>(static_cast<int8_t>(kind + k * 37)) / 128.0f;
            if (frames > 0 && kind % 8 == 7) audio[frames / 2] = kind & 8 ? kNaN : kInf;
            // a few events of any time, type and bytes in; no room, a little or plenty out
            *midiInSeq = {{sizeof(LV2_Atom_Sequence_Body), 2}, {0, 0}};
            for (int k = in.byte() % 8; k > 0; --k)
            {
                auto* e = lv2_atom_sequence_end(&midiInSeq->body, midiInSeq->atom.size);
                const uint8_t type = in.byte();
                *e = {{type % 4 ? in.byte() * 256 : in.int32()},
                      {type % 8 == 1 ? 3u : 1u, type / 4 % 9u}};
                for (uint32_t b = 0; b < e->body.size; ++b)
                    reinterpret_cast<uint8_t*>(e + 1)[b] = in.byte();
                midiInSeq->atom.size += lv2_atom_pad_size(sizeof(LV2_Atom_Event) + e->body.size);
            }
            const uint32_t room[3] = {0, 40, sizeof midiOut - sizeof(LV2_Atom)};
            midiOutSeq->atom = {room[kind % 3], 0};
            d->run(h, frames);
            break;
        }
        case 6:
            d->extension_data(in.byte() % 2 ? LV2_CORE__isLive : "urn:unknown");
            break;
        default:
            if (active) d->deactivate(h);
            active = false;
            d->cleanup(h);
            h = nullptr;
            break;
        }
    }
    if (h)
    {
        if (active) d->deactivate(h);
        d->cleanup(h);
    }
    return 0;
}
