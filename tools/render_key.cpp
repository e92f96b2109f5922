#include "render_key.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace render
{

namespace
{

// Krumhansl and Kessler's probe-tone ratings, from the key note up.
constexpr std::array<double, 12> kMajorProfile = {6.35, 2.23, 3.48, 2.33, 4.38, 4.09,
                                                  2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
constexpr std::array<double, 12> kMinorProfile = {6.33, 2.68, 3.52, 5.38, 2.60, 3.53,
                                                  2.54, 4.75, 3.98, 2.69, 3.34, 3.17};
constexpr std::array<int, 7> kMajorSteps = {0, 2, 4, 5, 7, 9, 11};
constexpr std::array<int, 7> kMinorSteps = {0, 2, 3, 5, 7, 8, 10};

constexpr double kMinSeconds = 2.0;     // steady notes needed to name a key
constexpr int kMinDistinctNotes = 3;    // pitch classes that each hold a clear part of them
constexpr double kDistinctShare = 0.04; // that part
constexpr double kMinConfidence = 0.5;
constexpr double kNoteSpan = 0.6; // semitones a frame may stray from its note's mean
constexpr double kMinNoteSeconds = 0.08;
constexpr double kProfileWeight = 0.1; // share of unexplained time one unit of profile fit is worth
constexpr double kMoveWeight =
    0.2; // share of unexplained time a semitone of mean movement is worth
constexpr double kStrayLimit =
    0.85; // semitones a note may be sung off towards a note outside the key

struct Note
{
    double pitch;   // median, in semitones from A4 plus 69
    double seconds; // duration
};

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Runs of voiced frames that stay near their running mean: the notes, without the glides
// between them.
std::vector<Note> steadyNotes(const PitchTrack& track)
{
    std::vector<Note> notes;
    const double hop = track.times.size() > 1 ? track.times[1] - track.times[0] : 0.01;
    std::vector<double> run;
    double sum = 0.0;
    auto close = [&]()
    {
        const double seconds = static_cast<double>(run.size()) * hop;
        if (seconds >= kMinNoteSeconds) notes.push_back({median(run), seconds});
        run.clear();
        sum = 0.0;
    };
    for (double f0 : track.f0)
    {
        if (f0 <= 0.0)
        {
            close();
            continue;
        }
        const double pitch = 69.0 + 12.0 * std::log2(f0 / 440.0);
        if (!run.empty() && std::fabs(pitch - sum / static_cast<double>(run.size())) > kNoteSpan)
            close();
        run.push_back(pitch);
        sum += pitch;
    }
    close();
    return notes;
}

// The note of the scale nearest to pitch (semitones, MIDI numbering); the lower one on a tie.
int nearestInScale(double pitch, const NoteSet& scale)
{
    const int below = static_cast<int>(std::floor(pitch));
    int best = below;
    double distance = INFINITY;
    for (int n = below - 2; n <= below + 3; ++n)
        if (scale[((n % 12) + 12) % 12] && std::fabs(pitch - n) < distance)
        {
            distance = std::fabs(pitch - n);
            best = n;
        }
    return best;
}

// Whether a note sung at pitch can be the scale's note meant, sung off: towards a neighbour
// outside the scale by up to kStrayLimit, towards one in it by less than half the way.
bool withinReach(double pitch, int meant, const NoteSet& scale)
{
    const double off = pitch - meant;
    const int neighbour = ((meant + (off > 0.0 ? 1 : -1)) % 12 + 12) % 12;
    return std::fabs(off) <= (scale[neighbour] ? 0.5 : kStrayLimit);
}

double correlation(const std::array<double, 12>& a, const std::array<double, 12>& b)
{
    double meanA = 0.0, meanB = 0.0;
    for (int k = 0; k < 12; ++k)
        meanA += a[k] / 12.0, meanB += b[k] / 12.0;
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (int k = 0; k < 12; ++k)
    {
        ab += (a[k] - meanA) * (b[k] - meanB);
        aa += (a[k] - meanA) * (a[k] - meanA);
        bb += (b[k] - meanB) * (b[k] - meanB);
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

} // namespace

KeyEstimate findKey(const PitchTrack& track)
{
    KeyEstimate key;
    key.notes.fill(true);
    const std::vector<Note> notes = steadyNotes(track);

    std::array<double, 12> rounded{}; // time on steady notes nearest each pitch class
    double total = 0.0;
    for (const Note& note : notes)
    {
        rounded[static_cast<int>(std::lround(note.pitch)) % 12] += note.seconds;
        total += note.seconds;
    }

    char text[96];
    int distinct = 0;
    for (int p = 0; p < 12; ++p)
        distinct += total > 0.0 && rounded[p] >= kDistinctShare * total;
    if (total < kMinSeconds)
    {
        std::snprintf(text, sizeof text, "only %.1f s of steady notes", total);
        key.reason = text;
        return key;
    }
    if (distinct < kMinDistinctNotes)
    {
        std::snprintf(text, sizeof text, "%d distinct note%s in %.1f s", distinct,
                      distinct == 1 ? "" : "s", total);
        key.reason = text;
        return key;
    }

    // Each key takes every note to its nearest scale note, as tuning to it would. The key is the
    // one that explains the most of the take as its own notes sung off (towards a note outside
    // the key, or less than halfway towards one in it), moving them least; a minor key is heard
    // with its natural or its raised seventh, whichever explains more. Keys that explain the
    // take alike (a major key and its relative minor) are told apart by how well the notes, so
    // taken, match the key's profile.
    double best = INFINITY;
    double bestFit = 0.0;
    NoteSet bestScale{};
    std::array<double, 12> dwelt{}; // time on steady notes taken to each note of that scale
    for (int tonic = 0; tonic < 12; ++tonic)
        for (int mode = 0; mode < 3; ++mode)
        {
            const bool minor = mode > 0;
            const auto& profile = minor ? kMinorProfile : kMajorProfile;
            std::array<double, 12> rotated{};
            NoteSet scale{};
            for (int k = 0; k < 12; ++k)
                rotated[(tonic + k) % 12] = profile[k];
            for (int step : minor ? kMinorSteps : kMajorSteps)
                scale[(tonic + (mode == 2 && step == 10 ? 11 : step)) % 12] = true;
            std::array<double, 12> heard{};
            double unexplained = 0.0, moved = 0.0;
            for (const Note& note : notes)
            {
                const int nearest = nearestInScale(note.pitch, scale);
                heard[nearest % 12] += note.seconds;
                unexplained += note.seconds * !withinReach(note.pitch, nearest, scale);
                moved += note.seconds * std::fabs(note.pitch - nearest);
            }
            const double fit = correlation(heard, rotated);
            const double score = (unexplained + kMoveWeight * moved) / total - kProfileWeight * fit;
            if (score < best)
            {
                best = score;
                bestFit = fit;
                key.tonic = tonic;
                key.minor = minor;
                bestScale = scale;
                dwelt = heard;
            }
        }
    key.confidence = bestFit;
    if (bestFit < kMinConfidence)
    {
        std::snprintf(text, sizeof text, "no key fits (the nearest, %s, at %.2f)",
                      keyName(key).c_str(), bestFit);
        key.reason = text;
        return key;
    }

    // Tuned to: the key's notes the singer dwells on. A note of the key that the take only nears
    // in passing is left out, so a note sung far towards it is not pulled there.
    key.decided = true;
    key.notes = NoteSet{};
    for (int p = 0; p < 12; ++p)
        key.notes[p] = bestScale[p] && dwelt[p] >= kDwellShare * total;
    return key;
}

std::string keyName(const KeyEstimate& key)
{
    return noteName(key.tonic) + (key.minor ? " minor" : " major");
}

std::string describeKey(const KeyEstimate& key)
{
    if (!key.decided) return "key: undecided (" + key.reason + "); tuning chromatic";
    char text[32];
    std::snprintf(text, sizeof text, " (confidence %.2f)", key.confidence);
    return "key: " + keyName(key) + text;
}

} // namespace render
