#include "livevst.h"

#include "livegui.h"

#include <algorithm>
#include <cstring>
#include <exception>

using namespace halvernparams;

LiveVST::LiveVST(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, kNumParams),
      voice(std::make_unique<LiveVoice>(static_cast<int>(sampleRate)))
{
    setNumInputs(1);
    setNumOutputs(1);
    setUniqueID(kUniqueID);
    isSynth(false);
    canProcessReplacing(true);

    // attaches itself as this effect's editor
    (new LiveGui(this))->watchHeldNotes(&heldMask);

    for (int k = 0; k < kMaxEventsOut; ++k)
        sentList.events[k] = reinterpret_cast<VstEvent*>(&sent[k]);
    setInitialDelay(voice->latency());
}

void LiveVST::setSampleRate(float rate)
{
    AudioEffectX::setSampleRate(rate);
    if (!(rate >= LiveVoice::kMinRate && rate <= LiveVoice::kMaxRate)) return;
    const int newRate = static_cast<int>(rate);
    if (resumed)
        pendingRate = newRate;
    else
        applyRate(newRate);
}

void LiveVST::suspend()
{
    carryNotes();
    releaseKeys();
    resumed = false;
    AudioEffectX::suspend();
}

void LiveVST::resume()
{
    carryNotes(); // a resume without a suspend must not lose the note off either
    releaseKeys();
    if (pendingRate != 0)
    {
        applyRate(pendingRate);
        pendingRate = 0;
    }
    voice->reset();
    resumed = true;
    AudioEffectX::resume();
}

void LiveVST::carryNotes()
{
    voice->endNotes();
    while (carriedCount < kMaxCarried)
    {
        const int n = voice->takeNoteEvents(carried + carriedCount, kMaxCarried - carriedCount);
        if (n == 0) break;
        carriedCount += n;
    }
}

void LiveVST::releaseKeys()
{
    keys.releaseAll();
    keyEventCount = 0;
    heldMask.store(0, std::memory_order_relaxed);
}

VstInt32 LiveVST::canDo(const char* text)
{
    for (const char* can :
         {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents", "sendVstMidiEvent"})
        if (std::strcmp(text, can) == 0) return 1;
    return 0;
}

VstInt32 LiveVST::processEvents(void* events)
{
    const auto* list = static_cast<const VstEvents*>(events);
    if (!list) return 0;
    VstEvent* const* all = list->events; // numEvents of them, past the declared two
    for (VstInt32 k = 0; k < list->numEvents && keyEventCount < kMaxEventsIn; ++k)
    {
        const VstEvent* event = all[k];
        const MidiKeys::Message message = MidiKeys::read(event);
        if (message.kind != MidiKeys::Kind::None)
            keyEvents[keyEventCount++] = {event->deltaFrames, message};
    }
    return 1;
}

void LiveVST::applyRate(int rate)
{
    if (rate == voice->rate()) return;
    try
    {
        voice = std::make_unique<LiveVoice>(rate);
    }
    catch (const std::exception&)
    {
        return; // the previous voice keeps working
    }
    setInitialDelay(voice->latency());
    callHost(audioMasterIOChanged);
}

void LiveVST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (sampleFrames <= 0 || !inputs || !outputs || !inputs[0] || !outputs[0]) return;
    // One snapshot of the controls for the block; only the held keys change within it.
    LiveControls snapshot{controls.load(), retuneMs.load(std::memory_order_relaxed),
                          keys.pitchClasses()};
    const int64_t blockStart = voice->samplesProcessed();
    sentList.numEvents = 0;
    for (int k = 0; k < carriedCount; ++k)
        queueNote(carried[k], 0);
    carriedCount = 0;

    // Events come in time order; one that does not is applied where the block has got to.
    VstInt32 done = 0;
    for (int k = 0; k < keyEventCount; ++k)
    {
        const VstInt32 at = std::clamp(keyEvents[k].frame, done, sampleFrames - 1);
        if (at > done)
        {
            processSpan(inputs[0], outputs[0], done, at, snapshot, blockStart, sampleFrames);
            done = at;
        }
        keys.apply(keyEvents[k].message);
        snapshot.heldNotes = keys.pitchClasses();
    }
    keyEventCount = 0;
    processSpan(inputs[0], outputs[0], done, sampleFrames, snapshot, blockStart, sampleFrames);
    heldMask.store(keys.pitchClasses(), std::memory_order_relaxed);
    if (sentList.numEvents > 0) callHost(audioMasterProcessEvents, 0, 0, sentList.get());
}

void LiveVST::processSpan(const float* in, float* out, VstInt32 from, VstInt32 to,
                          const LiveControls& controls, int64_t blockStart, VstInt32 blockLength)
{
    voice->process(in + from, out + from, to - from, controls);
    SungNoteEvent found[16];
    while (sentList.numEvents < kMaxEventsOut)
    {
        const int n =
            voice->takeNoteEvents(found, std::min(16, kMaxEventsOut - sentList.numEvents));
        if (n == 0) break;
        // At the output's time while that is still to come, else as soon as it is known.
        for (int k = 0; k < n; ++k)
        {
            const int64_t due = std::max(found[k].sample + voice->latency(), found[k].detected);
            queueNote(found[k], static_cast<VstInt32>(
                                    std::clamp<int64_t>(due - blockStart, 0, blockLength - 1)));
        }
    }
}

void LiveVST::queueNote(const SungNoteEvent& note, VstInt32 frame)
{
    if (sentList.numEvents >= kMaxEventsOut) return;
    // Hosts want the events in time order.
    if (sentList.numEvents > 0) frame = std::max(frame, sent[sentList.numEvents - 1].deltaFrames);
    VstMidiEvent& e = sent[sentList.numEvents++];
    std::memset(&e, 0, sizeof e);
    e.type = kVstMidiType;
    e.byteSize = sizeof(VstMidiEvent);
    e.deltaFrames = frame;
    e.midiData[0] = static_cast<char>(note.velocity > 0 ? 0x90 : 0x80); // channel 1
    e.midiData[1] = static_cast<char>(note.note & 0x7F);
    e.midiData[2] = static_cast<char>(std::clamp(note.velocity, 0, 127));
}

void LiveVST::setParameter(VstInt32 index, float value)
{
    if (index == kRetune)
        retuneMs.store(retuneMsFromHost(value), std::memory_order_relaxed);
    else
        controls.set(index, value);
    if (auto* gui = dynamic_cast<VstGui*>(editor)) gui->updateControl(index, value);
}

float LiveVST::getParameter(VstInt32 index)
{
    if (index == kRetune) return hostFromRetuneMs(retuneMs.load(std::memory_order_relaxed));
    return controls.get(index);
}

void LiveVST::getParameterLabel(VstInt32 index, char* label)
{
    copyText(label, index == kRetune ? "ms" : "", kVstMaxParamStrLen);
}

void LiveVST::getParameterDisplay(VstInt32 index, char* text)
{
    if (index == kRetune)
        retuneDisplay(retuneMs.load(std::memory_order_relaxed), text);
    else
        controls.display(index, text);
}

void LiveVST::getParameterName(VstInt32 index, char* text)
{
    if (index == kRetune)
        copyText(text, "Retune", kVstMaxParamStrLen);
    else
        SharedControls::name(index, text);
}

bool LiveVST::getEffectName(char* name)
{
    copyText(name, "Halvern Live", kVstMaxEffectNameLen);
    return true;
}

bool LiveVST::getVendorString(char* text)
{
    copyText(text, "Brakk", kVstMaxVendorStrLen);
    return true;
}

bool LiveVST::getProductString(char* text)
{
    copyText(text, "Halvern Live", kVstMaxProductStrLen);
    return true;
}
