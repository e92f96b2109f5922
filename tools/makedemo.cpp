// makedemo: writes the demo take, a short sung melody in C major with a few notes out of tune.
// The voice is synthetic (a band-limited glottal pulse train through vowel formant resonators)
// with vibrato, glides between notes and two breaths, and it is the same on every run.
//
//   makedemo OUTPUT.wav [--rate HZ]
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

struct Vowel
{
    double formants[4];   // Hz
    double bandwidths[4]; // Hz
};

// Rough adult vowel formants; enough to sound sung and to look like speech to a pitch tracker.
const Vowel kVowelA = {{730, 1090, 2440, 3400}, {80, 90, 120, 200}};
const Vowel kVowelE = {{530, 1840, 2480, 3400}, {70, 100, 120, 200}};
const Vowel kVowelI = {{300, 2200, 2950, 3500}, {60, 100, 140, 200}};
const Vowel kVowelO = {{570, 840, 2410, 3400}, {70, 80, 120, 200}};

struct Note
{
    int midi;           // 60 = C4; 0 = a breath (silence)
    double seconds;     // length
    double detuneCents; // how far the singer misses it
    const Vowel* vowel;
};

// Three phrases; D, the second E, F, the last C and the G in the third phrase are sung off pitch.
const Note kMelody[] = {
    {0, 0.20, 0, nullptr},     {60, 0.45, 0, &kVowelA},   {62, 0.45, 35, &kVowelA},
    {64, 0.45, -15, &kVowelE}, {67, 0.70, 0, &kVowelO},   {0, 0.15, 0, nullptr},
    {64, 0.45, -40, &kVowelA}, {65, 0.45, 25, &kVowelE},  {62, 0.45, 0, &kVowelO},
    {60, 0.70, -30, &kVowelA}, {0, 0.15, 0, nullptr},     {64, 0.40, 0, &kVowelI},
    {67, 0.40, 40, &kVowelA},  {69, 0.65, -25, &kVowelO}, {67, 0.40, 10, &kVowelE},
    {64, 0.40, -20, &kVowelA}, {60, 0.80, 15, &kVowelO},  {0, 0.30, 0, nullptr},
};

constexpr double kGlideSeconds = 0.06;
constexpr double kVibratoHz = 5.5;
constexpr double kVibratoCents = 25.0;
constexpr double kVibratoDelay = 0.15; // seconds into a note before vibrato starts
constexpr double kVibratoRamp = 0.20;  // seconds to full depth
constexpr double kAttack = 0.04;
constexpr double kRelease = 0.06;

// Two-pole resonator with unity gain at 0 Hz, so a cascade keeps the source's level.
struct Resonator
{
    double y1 = 0.0, y2 = 0.0;
    double process(double x, double frequency, double bandwidth, double rate)
    {
        const double c = -std::exp(-2.0 * M_PI * bandwidth / rate);
        const double b =
            2.0 * std::exp(-M_PI * bandwidth / rate) * std::cos(2.0 * M_PI * frequency / rate);
        const double a = 1.0 - b - c;
        const double y = a * x + b * y1 + c * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

std::vector<float> synthesise(double rate)
{
    double total = 0.0;
    for (const Note& note : kMelody)
        total += note.seconds;
    const size_t length = static_cast<size_t>(total * rate);
    std::vector<double> voice(length, 0.0);

    Resonator resonators[4];
    double formants[4] = {kVowelA.formants[0], kVowelA.formants[1], kVowelA.formants[2],
                          kVowelA.formants[3]};
    double bandwidths[4] = {kVowelA.bandwidths[0], kVowelA.bandwidths[1], kVowelA.bandwidths[2],
                            kVowelA.bandwidths[3]};
    const double formantSmoothing = 1.0 - std::exp(-1.0 / (0.025 * rate)); // 25 ms
    double phase = 0.0;
    uint32_t noiseState = 20240601u;
    double previousPitch = -1.0; // MIDI of the previous sung note, for the glide

    size_t start = 0;
    const size_t noteCount = sizeof kMelody / sizeof kMelody[0];
    for (size_t n = 0; n < noteCount; ++n)
    {
        const Note& note = kMelody[n];
        const size_t count = static_cast<size_t>(note.seconds * rate);
        const size_t end = std::min(length, start + count);
        if (note.midi == 0)
        {
            previousPitch = -1.0;
            start = end;
            continue;
        }
        const double pitch = note.midi + note.detuneCents / 100.0;
        const bool phraseStart = n == 0 || kMelody[n - 1].midi == 0;
        const bool phraseEnd = n + 1 >= noteCount || kMelody[n + 1].midi == 0;
        for (size_t k = start; k < end; ++k)
        {
            const double t = static_cast<double>(k - start) / rate; // seconds into the note
            double midi = pitch;
            if (previousPitch > 0.0 && t < kGlideSeconds)
                midi = previousPitch + (pitch - previousPitch) * t / kGlideSeconds;
            const double depth =
                std::clamp((t - kVibratoDelay) / kVibratoRamp, 0.0, 1.0) * kVibratoCents / 100.0;
            midi += depth * std::sin(2.0 * M_PI * kVibratoHz * static_cast<double>(k) / rate);
            const double f0 = 440.0 * std::exp2((midi - 69.0) / 12.0);

            double envelope = 1.0;
            if (phraseStart) envelope = std::min(envelope, t / kAttack);
            if (phraseEnd) envelope = std::min(envelope, (note.seconds - t) / kRelease);
            envelope = std::clamp(envelope, 0.0, 1.0);

            // Harmonics up to 0.45 of the rate with a 1/h slope, by the sine recurrence.
            phase = std::fmod(phase + 2.0 * M_PI * f0 / rate, 2.0 * M_PI);
            const int harmonics = std::min(120, static_cast<int>(0.45 * rate / f0));
            const double twoCos = 2.0 * std::cos(phase);
            double sPrev = 0.0;
            double s = std::sin(phase);
            double source = 0.0;
            for (int h = 1; h <= harmonics; ++h)
            {
                source += s / h;
                const double next = twoCos * s - sPrev;
                sPrev = s;
                s = next;
            }
            noiseState = noiseState * 1664525u + 1013904223u;
            const double breath = (static_cast<double>(noiseState >> 8) / 8388608.0 - 1.0) * 0.02;

            double x = (source + breath) * envelope;
            for (int f = 0; f < 4; ++f)
            {
                formants[f] += (note.vowel->formants[f] - formants[f]) * formantSmoothing;
                bandwidths[f] += (note.vowel->bandwidths[f] - bandwidths[f]) * formantSmoothing;
                x = resonators[f].process(x, formants[f], bandwidths[f], rate);
            }
            voice[k] = x;
        }
        previousPitch = pitch;
        start = end;
    }

    double peak = 0.0;
    for (double v : voice)
        peak = std::max(peak, std::fabs(v));
    std::vector<float> out(length);
    const double gain = peak > 0.0 ? 0.5 / peak : 0.0; // -6 dBFS
    for (size_t k = 0; k < length; ++k)
        out[k] = static_cast<float>(voice[k] * gain);
    return out;
}

int usage()
{
    std::fprintf(stderr, "usage: makedemo OUTPUT.wav [--rate HZ]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string output;
    int rate = 44100;
    for (int k = 1; k < argc; ++k)
    {
        if (std::strcmp(argv[k], "--rate") == 0 && k + 1 < argc)
        {
            char* end = nullptr;
            const long value = std::strtol(argv[++k], &end, 10);
            if (*end != '\0' || value < 8000 || value > 384000) return usage();
            rate = static_cast<int>(value);
        }
        else if (argv[k][0] == '-' || !output.empty())
            return usage();
        else
            output = argv[k];
    }
    if (output.empty()) return usage();

    const std::vector<float> samples = synthesise(rate);
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(output.c_str(), SFM_WRITE, &info);
    if (!file)
    {
        std::fprintf(stderr, "makedemo: cannot write %s: %s\n", output.c_str(),
                     sf_strerror(nullptr));
        return 1;
    }
    const sf_count_t written =
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    if (sf_close(file) != 0 || written != static_cast<sf_count_t>(samples.size()))
    {
        std::fprintf(stderr, "makedemo: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("%s: %.2f s sung melody, %d Hz mono\n", output.c_str(),
                static_cast<double>(samples.size()) / rate, rate);
    return 0;
}
