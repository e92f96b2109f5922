#include "notechooser.h"

#include <cmath>

bool nearestLitNote(const ControlState& controls, double cents, int& note)
{
    const int centre = static_cast<int>(std::floor(cents / 100.0));
    bool found = false;
    double best = 0.0;
    for (int n = centre - 6; n <= centre + 7; ++n)
    {
        if (!controls.noteOn[((n % 12) + 12) % 12]) continue;
        const double distance = std::fabs(cents - 100.0 * n);
        if (!found || distance < best)
        {
            found = true;
            best = distance;
            note = n;
        }
    }
    return found;
}

void NoteChooser::take(int note, double before)
{
    hasNote = true;
    heldNote = note;
    heldSeconds = 0.0;
    reachedBefore = before;
    candidateSeconds = 0.0;
}

void NoteChooser::release()
{
    hasNote = false;
    candidateSeconds = 0.0;
}

double NoteChooser::step(double voiceCents, const ControlState& controls, double retuneMs,
                         double interval)
{
    int nearest = 0;
    if (!controls.scaleOn || !std::isfinite(voiceCents) ||
        !nearestLitNote(controls, voiceCents, nearest))
    {
        hasNote = false;
        correction = 0.0;
        return 0.0;
    }
    const bool fresh = !hasNote;
    heldSeconds += interval;
    if (fresh || !controls.noteOn[((heldNote % 12) + 12) % 12] ||
        (heldSeconds < kSettleSeconds && nearest != heldNote))
        take(nearest);
    else if (nearest != heldNote)
    {
        const double fromHeld = std::fabs(voiceCents - 100.0 * heldNote);
        const double fromNearest = std::fabs(voiceCents - 100.0 * nearest);
        candidateSeconds = nearest == candidate ? candidateSeconds + interval : interval;
        candidate = nearest;
        if (fromHeld - fromNearest >= kClearCents)
            take(nearest);
        else if (candidateSeconds >= kHoldSeconds)
            take(nearest, candidateSeconds - interval);
    }
    else
        candidateSeconds = 0.0;

    const double wanted = 100.0 * heldNote - voiceCents;
    if (fresh || !(retuneMs > 0.0))
        correction = wanted;
    else
        correction += (wanted - correction) * (1.0 - std::exp(-interval * 3000.0 / retuneMs));
    return correction;
}
