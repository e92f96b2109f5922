#include "sungnotes.h"

#include <algorithm>
#include <cmath>

int velocityForLevel(double level)
{
    if (!(level > 0.0)) return 1;
    const double db = 20.0 * std::log10(level);
    return std::clamp(static_cast<int>(std::lround(127.0 * (1.0 + db / 60.0))), 1, 127);
}

void SungNotes::reset()
{
    openNote = -1;
    settling = -1;
    silentSince = -1;
}

int SungNotes::finish(int64_t time, int64_t now, SungNoteEvent* events)
{
    settling = -1;
    silentSince = -1;
    if (openNote < 0) return 0;
    events[0] = {time, now, openNote, 0};
    openNote = -1;
    return 1;
}

int SungNotes::step(int64_t time, int64_t now, bool voiced, int note, int64_t reached, double level,
                    SungNoteEvent* events)
{
    if (!voiced || note < 0 || note > 127)
    {
        if (silentSince < 0) silentSince = time;
        if (time - silentSince < gapSamples) return 0;
        return finish(silentSince, now, events);
    }
    silentSince = -1;
    if (note != settling)
    {
        settling = note;
        // never before the open note's own start
        settleStart = std::min(time, std::max(reached, openNote >= 0 ? openStart : reached));
        settleLevel = level;
    }
    settleLevel = std::max(settleLevel, level);
    if (note == openNote || time - settleStart < settleSamples) return 0;
    int count = 0;
    // A new note ends the old one where the voice got to it.
    if (openNote >= 0) events[count++] = {settleStart, now, openNote, 0};
    openNote = note;
    openStart = settleStart;
    events[count++] = {settleStart, now, note, velocityForLevel(settleLevel)};
    return count;
}
