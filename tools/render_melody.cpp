#include "render_melody.h"

// glib first: smf.h includes it inside its own extern "C" block.
#include <glib.h>
#include <smf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

namespace render
{

namespace
{

// libsmf reports why a file failed through glib's log; the message goes into the error instead
// of onto the terminal.
void keepMessage(const gchar*, GLogLevelFlags, const gchar* message, gpointer target)
{
    std::string& text = *static_cast<std::string*>(target);
    if (text.empty()) text = message;
}

// Drums (channel 10) are no melody: their notes are skipped and counted in drumNotes.
std::vector<MelodyNote> notesOfTrack(smf_track_t* track, int& drumNotes)
{
    std::vector<MelodyNote> notes;
    std::map<int, std::vector<size_t>> open; // channel * 128 + key -> notes waiting for their end
    double last = 0.0;
    for (int k = 1; k <= track->number_of_events; ++k)
    {
        const smf_event_t* event = smf_track_get_event_by_number(track, k);
        if (!event) continue;
        last = std::max(last, event->time_seconds);
        if (smf_event_is_metadata(event) || event->midi_buffer_length < 3) continue;
        const int status = event->midi_buffer[0] & 0xF0;
        const int key = (event->midi_buffer[0] & 0x0F) * 128 + (event->midi_buffer[1] & 0x7F);
        const bool on = status == 0x90 && event->midi_buffer[2] > 0;
        const bool off = status == 0x80 || (status == 0x90 && event->midi_buffer[2] == 0);
        if ((event->midi_buffer[0] & 0x0F) == 9)
        {
            drumNotes += on;
            continue;
        }
        if (on)
        {
            open[key].push_back(notes.size());
            notes.push_back({event->time_seconds, event->time_seconds, key % 128});
        }
        else if (off && !open[key].empty())
        {
            notes[open[key].front()].end = event->time_seconds;
            open[key].erase(open[key].begin());
        }
    }
    for (auto& waiting : open)
        for (size_t index : waiting.second)
            notes[index].end = last;
    notes.erase(std::remove_if(notes.begin(), notes.end(),
                               [](const MelodyNote& n) { return !(n.end > n.start); }),
                notes.end());
    std::stable_sort(notes.begin(), notes.end(),
                     [](const MelodyNote& a, const MelodyNote& b) { return a.start < b.start; });
    return notes;
}

} // namespace

Melody loadMelody(const std::string& path, int track)
{
    std::string why;
    const guint handler = g_log_set_handler(
        "libsmf", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL), keepMessage,
        &why);
    std::unique_ptr<smf_t, decltype(&smf_delete)> smf(smf_load(path.c_str()), smf_delete);
    g_log_remove_handler("libsmf", handler);
    if (!smf)
        throw MelodyError("--melody " + path + ": cannot read it as a MIDI file" +
                          (why.empty() ? "" : " (" + why + ")"));
    if (smf->format == 2)
        throw MelodyError("--melody " + path +
                          ": a format 2 file holds separate sequences; give a format 0 or 1 file");
    if (track > smf->number_of_tracks)
        throw MelodyError("--melody-track " + std::to_string(track) + ": " + path + " has " +
                          std::to_string(smf->number_of_tracks) + " track(s)");

    Melody melody;
    melody.path = path;
    int drumNotes = 0;
    for (int t = track > 0 ? track : 1; t <= (track > 0 ? track : smf->number_of_tracks); ++t)
    {
        smf_track_t* candidate = smf_get_track_by_number(smf.get(), t);
        if (!candidate) continue;
        melody.notes = notesOfTrack(candidate, drumNotes);
        melody.track = t;
        if (!melody.notes.empty()) return melody;
    }
    const std::string drums = drumNotes > 0 ? " but drums (channel 10), which are no melody" : "";
    if (track > 0)
        throw MelodyError("--melody-track " + std::to_string(track) + ": track " +
                          std::to_string(track) + " of " + path + " holds no notes" + drums);
    throw MelodyError("--melody " + path + ": the file holds no notes" + drums);
}

void shiftMelody(Melody& melody, double seconds)
{
    std::vector<MelodyNote> kept;
    for (MelodyNote note : melody.notes)
    {
        note.start = std::max(0.0, note.start + seconds);
        note.end += seconds;
        if (note.end > note.start) kept.push_back(note);
    }
    if (kept.empty())
    {
        char text[32];
        std::snprintf(text, sizeof text, "%g", seconds);
        throw MelodyError(std::string("--melody-offset ") + text + ": every note of " +
                          melody.path + " would end before the take starts");
    }
    melody.notes = kept;
    melody.offset = seconds;
}

std::vector<SwitchChange> melodySwitches(const Melody& melody, double rate)
{
    std::vector<int64_t> boundaries = {0};
    auto sampleOf = [rate](double seconds) { return std::llround(std::max(0.0, seconds) * rate); };
    for (const MelodyNote& note : melody.notes)
    {
        boundaries.push_back(sampleOf(note.start));
        boundaries.push_back(sampleOf(note.end));
    }
    std::sort(boundaries.begin(), boundaries.end());
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());

    std::vector<SwitchChange> changes;
    for (int64_t at : boundaries)
    {
        int pitchClass = -1;
        int64_t latest = -1;
        for (const MelodyNote& note : melody.notes)
        {
            const int64_t start = sampleOf(note.start);
            if (start <= at && at < sampleOf(note.end) && start >= latest)
            {
                latest = start;
                pitchClass = note.midi % 12;
            }
        }
        if (changes.empty() || changes.back().pitchClass != pitchClass)
            changes.push_back({at, pitchClass});
    }
    return changes;
}

NoteSet melodyNotes(const Melody& melody)
{
    NoteSet notes{};
    for (const MelodyNote& note : melody.notes)
        notes[note.midi % 12] = true;
    return notes;
}

} // namespace render
