// Sung takes whose notes are known: short tunes in any key, each note sung off by a set amount,
// with glides between notes and vibrato on the longer ones, and the melody as a MIDI file.
#pragma once

#include "render_pitch.h"
#include "render_testsupport.h"

#include <glib.h>
#include <smf.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace tuningtest
{

struct SungNote
{
    double start = 0.0;   // seconds
    double seconds = 0.0; // sounding length
    int midi = 60;        // the note meant
    double cents = 0.0;   // how far off it is sung
};

struct Take
{
    std::vector<SungNote> notes;
    std::vector<float> samples;
    double rate = 44100.0;
};

// A tune as scale steps from the key note, one character per half beat: a digit starts a note
// (7 is the minor key's raised seventh), '-' holds it for another half beat.
struct Tune
{
    const char* name;
    bool minor;
    const char* steps;
};

inline const std::vector<Tune>& tunes()
{
    static const std::vector<Tune> all = {
        {"ode", false, "2-2-3-4-4-3-2-1-0-0-1-2-2--11---4-5-4-0---"},
        {"scale song", false, "0-4-2-0-3-5-4---6-1-4-3-2-1-0---"},
        {"lament", true, "0-2-4---3-2-1-7-0---4-5-4-7-0-1-7-0---"},
        {"air", true, "4-2-0-2-4---5-4-3-1-6-1-2-0---4-0---"},
    };
    return all;
}

inline int semitonesOf(int degree, bool minor)
{
    static const int major[] = {0, 2, 4, 5, 7, 9, 11, 11};
    static const int natural[] = {0, 2, 3, 5, 7, 8, 10, 11};
    return (minor ? natural : major)[degree];
}

// The tune in the key of `tonic`, each note off by up to maxCents: towards a note the tune never
// uses when towardsUnused, else either way.
inline Take singTune(const Tune& tune, int tonic, double maxCents, bool towardsUnused,
                     uint32_t seed, double beatSeconds = 0.36, double rate = 44100.0)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int base = 55 + (tonic + 5) % 12; // key note between G3 and F#4
    struct Step
    {
        int degree;
        double beats;
    };
    std::vector<Step> steps;
    for (const char* c = tune.steps; *c; ++c)
        if (*c == '-')
            steps.back().beats += 0.5;
        else
            steps.push_back({*c - '0', 0.5});
    bool used[12] = {};
    for (const Step& step : steps)
        used[(base + semitonesOf(step.degree, tune.minor)) % 12] = true;

    Take take;
    take.rate = rate;
    double time = 0.1;
    for (const Step& step : steps)
    {
        const double seconds = step.beats * beatSeconds;
        const int midi = base + semitonesOf(step.degree, tune.minor);
        int direction = unit(random) < 0.5 ? -1 : 1;
        if (towardsUnused && used[(midi + direction + 12) % 12]) direction = -direction;
        take.notes.push_back({time, seconds - 0.04, midi, direction * maxCents * unit(random)});
        time += seconds;
    }
    const std::vector<SungNote> notes = take.notes;
    auto pitchAt = [notes](double t)
    {
        // Between notes the voice glides for 40 ms; vibrato of 20 cents from 0.15 s into a note.
        size_t k = 0;
        while (k + 1 < notes.size() && notes[k + 1].start <= t)
            ++k;
        const SungNote& n = notes[k];
        double pitch = n.midi + n.cents / 100.0;
        const double into = t - n.start;
        if (into > n.seconds && k + 1 < notes.size())
        {
            const SungNote& next = notes[k + 1];
            const double f = (into - n.seconds) / (next.start - n.start - n.seconds);
            pitch += f * (next.midi + next.cents / 100.0 - pitch);
        }
        else if (into > 0.15)
            pitch += 0.2 * std::sin(2.0 * M_PI * 5.5 * (into - 0.15));
        return 440.0 * std::exp2((pitch - 69.0) / 12.0);
    };
    take.samples = rendertest::voicedTone(pitchAt, rate, time + 0.2);
    const size_t silentFrom = static_cast<size_t>((time + 0.02) * rate);
    for (size_t k = 0; k < take.samples.size(); ++k)
        if (k < static_cast<size_t>(0.08 * rate) || k >= silentFrom) take.samples[k] = 0.0f;
    return take;
}

// Writes notes as a one-track MIDI file at 120 beats a minute, or with a tempo change at beat 4
// (to 90 a minute) when tempoChange is set; note times are converted through that tempo map.
inline bool writeMidi(const std::string& path, const std::vector<SungNote>& notes,
                      bool tempoChange = false, int format = 0)
{
    smf_t* smf = smf_new();
    smf_track_t* track = smf_track_new();
    smf_add_track(smf, track);
    if (format == 1)
    {
        smf_track_t* second = smf_track_new();
        smf_add_track(smf, second);
        track = second;
    }
    if (smf_set_ppqn(smf, 480) != 0) return false;
    smf_track_t* conductor = smf_get_track_by_number(smf, 1);
    auto tempo = [&](int pulses, int microsPerBeat)
    {
        unsigned char bytes[6] = {0xFF,
                                  0x51,
                                  0x03,
                                  static_cast<unsigned char>(microsPerBeat >> 16),
                                  static_cast<unsigned char>(microsPerBeat >> 8),
                                  static_cast<unsigned char>(microsPerBeat)};
        smf_track_add_event_pulses(conductor, smf_event_new_from_pointer(bytes, 6), pulses);
    };
    tempo(0, 500000);
    if (tempoChange) tempo(4 * 480, 666667);
    auto pulsesAt = [tempoChange](double seconds)
    {
        if (!tempoChange || seconds <= 2.0) return static_cast<int>(std::lround(seconds * 960.0));
        return 4 * 480 + static_cast<int>(std::lround((seconds - 2.0) * 480.0 / 0.666667));
    };
    for (const SungNote& n : notes)
    {
        smf_track_add_event_pulses(track, smf_event_new_from_bytes(0x90, n.midi, 100),
                                   pulsesAt(n.start));
        smf_track_add_event_pulses(track, smf_event_new_from_bytes(0x80, n.midi, 0),
                                   pulsesAt(n.start + n.seconds));
    }
    const bool ok = smf_save(smf, path.c_str()) == 0;
    smf_delete(smf);
    return ok;
}

// The output's pitch in the middle half of each note, in cents from the note meant (or from
// the pitch sung when asSung).
inline std::vector<double> noteErrors(const std::vector<float>& output, double rate,
                                      const std::vector<SungNote>& notes, bool asSung = false)
{
    const render::PitchTrack track = render::trackPitch(output, rate);
    std::vector<double> errors;
    for (const SungNote& n : notes)
    {
        std::vector<double> cents;
        for (size_t i = 0; i < track.f0.size(); ++i)
            if (track.f0[i] > 0.0 && track.times[i] >= n.start + 0.25 * n.seconds &&
                track.times[i] <= n.start + 0.75 * n.seconds)
                cents.push_back(1200.0 * std::log2(track.f0[i] / 440.0) - 100.0 * (n.midi - 69) -
                                (asSung ? n.cents : 0.0));
        if (cents.empty())
        {
            errors.push_back(1e9);
            continue;
        }
        std::nth_element(cents.begin(), cents.begin() + cents.size() / 2, cents.end());
        errors.push_back(cents[cents.size() / 2]);
    }
    return errors;
}

inline double shareWithin(const std::vector<double>& errors, double cents)
{
    return errors.empty() ? 0.0
                          : static_cast<double>(std::count_if(errors.begin(), errors.end(),
                                                              [cents](double e)
                                                              { return std::fabs(e) <= cents; })) /
                                static_cast<double>(errors.size());
}

} // namespace tuningtest
