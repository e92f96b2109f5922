// libFuzzer target: random sequences of dispatcher opcodes, parameter calls and process calls
// against the effect record of Halvern or Halvern Live (the input's first byte picks), with
// pointers to valid buffers only (as a sane host would pass); effProcessEvents gets a list of MIDI
// and SysEx events of any content, size and time.
#include "fuzzreader.h"
#include "livevst.h"
#include "pluginhost.h"
#include "vexilvst.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

VstIntPtr fuzzHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzReader in(data, size);
    // First bytes from 128 up pick Live; the rest of the kept corpus still drives Halvern.
    AudioEffectX* effect = size > 0 && (data[0] & 0x80)
                               ? static_cast<AudioEffectX*>(new LiveVST(fuzzHost))
                               : static_cast<AudioEffectX*>(new VexilVST(fuzzHost));
    AEffect* e = effect->getAeffect();
    std::vector<float> audio(70000), output(70000);
    char text[512];
    void* slots[2];
    MidiEvents<48> events;
    int frameBudget = 20000; // keeps one input to about three analysis blocks

    for (int step = 0; step < 64 && !in.empty(); ++step)
    {
        switch (in.byte() % 4)
        {
        case 0:
        {
            VstInt32 opcode = static_cast<VstInt32>(in.byte());
            // Editor opening needs a real parent window; closing is done once at the end.
            if (opcode == effEditOpen || opcode == effClose) opcode = effGetVstVersion;
            const VstInt32 index = in.int32() % 64;
            VstIntPtr value = in.int32();
            const float opt = in.real();
            std::memset(text, 0, sizeof text);
            void* ptr = text;
            if (in.byte() % 8 == 0) ptr = nullptr;
            if (opcode == effGetSpeakerArrangement)
            {
                value = reinterpret_cast<VstIntPtr>(&slots[0]);
                ptr = &slots[1];
            }
            if (opcode == effSetSampleRate)
                effect->suspend(); // hosts change the rate while suspended
            events.list.numEvents = 0;
            for (int k = opcode == effProcessEvents && ptr ? in.byte() % 49 : 0; k > 0; --k)
            {
                const uint8_t kind = in.byte(); // a MIDI or SysEx event, its time and its size
                const VstInt32 frame = kind % 4 ? in.byte() * 64 - 512 : in.int32();
                const VstInt32 bytes = kind % 8 == 1 ? in.byte() % 40 : sizeof(VstMidiEvent);
                events.add(frame, {in.byte(), in.byte(), in.byte()},
                           kind % 8 ? kVstMidiType : kVstSysExType, bytes);
                ptr = events.list.get();
            }
            e->dispatcher(e, opcode, index, value, ptr, opt);
            break;
        }
        case 1:
            e->setParameter(e, in.int32() % 32, in.real());
            break;
        case 2:
            e->getParameter(e, in.int32() % 32);
            break;
        default:
        {
            const int frames =
                std::min(frameBudget, static_cast<int>(static_cast<uint32_t>(in.int32()) % 70000));
            frameBudget -= frames;
            const uint8_t fill = in.byte();
            for (int k = 0; k < frames; ++k)
                audio[k] = static_cast<float>(static_cast<int8_t>(fill + k * 37)) / 128.0f;
            float* ins[1] = {audio.data()};
            float* outs[1] = {(fill & 1) ? audio.data() : output.data()};
            e->processReplacing(e, ins, outs, frames);
            break;
        }
        }
    }
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    return 0;
}
