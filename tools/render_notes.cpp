#include "render_notes.h"

#include "render_audio.h"

#include <smf.h>

#include <algorithm>
#include <memory>

namespace render
{

NoteFinder::NoteFinder(int rate_) : voice(rate_), rate(rate_)
{
    live.retuneMs = 0.0f;
    live.state.scaleOn = 0;
}

void NoteFinder::feed(const float* samples, int count)
{
    if (static_cast<int>(scratch.size()) < count) scratch.resize(count);
    voice.process(samples, scratch.data(), count, live);
    take();
}

std::vector<FoundNote> NoteFinder::finish()
{
    voice.endNotes();
    take();
    return notes;
}

void NoteFinder::take()
{
    SungNoteEvent events[16];
    for (int n = voice.takeNoteEvents(events, 16); n > 0; n = voice.takeNoteEvents(events, 16))
        for (int k = 0; k < n; ++k)
        {
            const double at = std::max(0.0, static_cast<double>(events[k].sample) / rate);
            if (events[k].velocity == 0)
            {
                if (openIndex >= 0) notes[openIndex].end = std::max(at, notes[openIndex].start);
                openIndex = -1;
            }
            else
            {
                notes.push_back({at, at, events[k].note, events[k].velocity});
                openIndex = static_cast<int>(notes.size()) - 1;
            }
        }
}

void writeNotesFile(const std::string& path, const std::vector<FoundNote>& notes, bool force)
{
    std::unique_ptr<smf_t, decltype(&smf_delete)> smf(smf_new(), smf_delete);
    if (!smf || smf_set_format(smf.get(), 0) != 0 || smf_set_ppqn(smf.get(), 960) != 0)
        throw RenderError("cannot make a MIDI file for " + path);
    smf_track_t* track = smf_track_new();
    smf_add_track(smf.get(), track);
    // 500000 microseconds per beat: 120 beats per minute
    unsigned char tempo[6] = {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
    smf_track_add_event_seconds(track, smf_event_new_from_pointer(tempo, sizeof tempo), 0.0);

    struct Timed
    {
        double at;
        bool on;
        int midi, velocity;
    };
    std::vector<Timed> timed;
    for (const FoundNote& n : notes)
    {
        timed.push_back({n.start, true, n.midi, n.velocity});
        timed.push_back({std::max(n.end, n.start + 0.001), false, n.midi, 0});
    }
    // At one time, an end goes before a start, so that a repeated note is not cut short.
    std::stable_sort(timed.begin(), timed.end(),
                     [](const Timed& a, const Timed& b)
                     { return a.at < b.at || (a.at == b.at && !a.on && b.on); });
    for (const Timed& t : timed)
    {
        smf_event_t* event = smf_event_new_from_bytes(t.on ? 0x90 : 0x80, t.midi, t.velocity);
        if (!event) throw RenderError("cannot make a MIDI event for " + path);
        smf_track_add_event_seconds(track, event, t.at);
    }

    // Written beside the target and given its name at the end: a failure leaves nothing behind.
    OutputFile file(path);
    if (smf_save(smf.get(), file.tempPath().c_str()) != 0)
        throw RenderError("cannot write " + path);
    file.commit(force);
}

} // namespace render
