// The whole voice path through the exported entry point: synthetic voices with known f0 and
// formants go in, and the output's pitch and envelope are measured independently.
#include "measure.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

using testsupport::loadPlugin;
using testsupport::processInBlocks;

namespace
{
constexpr double kRate = 44100.0;
constexpr size_t kLength = 88200; // 2 s

// Parameter indices: 0 Pitch, 1 Formant, 2 Scale, 3.. the notes from C up to B.
constexpr int kPitch = 0, kFormant = 1, kScale = 2;
constexpr int kNoteC = 3, kNoteE = 7, kNoteG = 10;

float centsValue(int cents)
{
    return static_cast<float>(0.5 + cents / 2400.0);
}

struct Settings
{
    int pitchCents = 0;
    int formantCents = 0;
    bool scaleOn = false;
    std::vector<int> notesOn; // parameter indices; empty = all notes stay on
};

std::vector<float> render(const std::vector<float>& input, const Settings& s,
                          size_t hostBlock = 512)
{
    auto host = loadPlugin();
    host->setParameter(kPitch, centsValue(s.pitchCents));
    host->setParameter(kFormant, centsValue(s.formantCents));
    host->setParameter(kScale, s.scaleOn ? 1.0f : 0.0f);
    if (!s.notesOn.empty())
        for (int p = 3; p < 15; ++p)
            host->setParameter(
                p,
                std::find(s.notesOn.begin(), s.notesOn.end(), p) != s.notesOn.end() ? 1.0f : 0.0f);
    return processInBlocks(*host, input, hostBlock);
}

std::string outputPath(const std::string& name)
{
    return std::string(HALVERN_TEST_OUTPUT_DIR) + "/" + name;
}

constexpr size_t kMeasureLength = 30000; // 0.68 s of a steady stretch

// f0 of the output over a steady stretch past the delay and the first analysed block.
double outputF0(const std::vector<float>& out)
{
    const size_t from = 9765 + 13000;
    return measure::f0ByAutocorrelation(out, from, from + kMeasureLength, kRate);
}

double inputF0(const std::vector<float>& in)
{
    return measure::f0ByAutocorrelation(in, 13000, 13000 + kMeasureLength, kRate);
}

// Leaves what a failing case saw: its input and output as WAV files.
void dumpIf(bool failed, const std::string& name, const std::vector<float>& in,
            const std::vector<float>& out)
{
    if (!failed) return;
    measure::writeWav(outputPath(name + "_in.wav"), in, static_cast<int>(kRate));
    measure::writeWav(outputPath(name + "_out.wav"), out, static_cast<int>(kRate));
}

double noteHz(int semitonesFromA4)
{
    return 440.0 * std::pow(2.0, semitonesFromA4 / 12.0);
}

// Nearest note (semitones from A4) among pitch classes (0 = A) to f.
int nearestNote(double f, const std::vector<int>& classes)
{
    const double s = 12.0 * std::log2(f / 440.0);
    int best = 0;
    double bestDistance = 1e9;
    for (int n = -60; n <= 60; ++n)
        if (std::find(classes.begin(), classes.end(), ((n % 12) + 12) % 12) != classes.end() &&
            std::fabs(s - n) < bestDistance)
        {
            bestDistance = std::fabs(s - n);
            best = n;
        }
    return best;
}

const std::vector<measure::Formant> kVowelA = {{730, 90}, {1090, 110}, {2440, 170}, {3400, 250}};
} // namespace

TEST(VoiceEndToEnd, PitchOffsetsLandOnTheShiftedF0)
{
    for (double f0 : {140.0, 220.0})
    {
        const auto input = testsupport::pulseTrain(f0, kRate, kLength);
        const double measuredIn = inputF0(input);
        ASSERT_NEAR(measure::cents(measuredIn, f0), 0.0, 3.0) << "the measurement itself";
        for (int c : {0, 300, -300, 700, -700, 1200, -1200})
        {
            const auto output = render(input, {c, 0, false, {}});
            const double expected = f0 * std::pow(2.0, c / 1200.0);
            const double measured = outputF0(output);
            const double error = measure::cents(measured, expected);
            EXPECT_NEAR(error, 0.0, 15.0)
                << "input " << f0 << " Hz, offset " << c << " cents: measured " << measured
                << " Hz, expected " << expected << " Hz";
            dumpIf(std::fabs(error) > 15.0,
                   "pitch_" + std::to_string(static_cast<int>(f0)) + "_" + std::to_string(c), input,
                   output);
        }
    }
}

TEST(VoiceEndToEnd, ScaleSnapsDetunedVoicesOntoTheNearestNote)
{
    const std::vector<int> allClasses = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (int note : {-12, -9, -5, -2}) // A3, C4, E4, G4
        for (int detune : {-30, 30})
        {
            const double f0 = noteHz(note) * std::pow(2.0, detune / 1200.0);
            const auto input = testsupport::pulseTrain(f0, kRate, kLength);
            const auto output = render(input, {0, 0, true, {}});
            const double measured = outputF0(output);
            const double error = measure::cents(measured, noteHz(nearestNote(f0, allClasses)));
            EXPECT_NEAR(error, 0.0, 10.0) << "input " << f0 << " Hz, measured " << measured;
            dumpIf(std::fabs(error) > 10.0,
                   "scale_" + std::to_string(note) + "_" + std::to_string(detune), input, output);
        }
}

TEST(VoiceEndToEnd, ScaleWithOnlyCEAndGPicksTheNearestOfThem)
{
    // Pitch classes counted from A: C = 3, E = 7, G = 10.
    const std::vector<int> ceg = {3, 7, 10};
    for (double f0 : {170.0, 200.0, 250.0, 300.0, 370.0})
    {
        const auto input = testsupport::pulseTrain(f0, kRate, kLength);
        const auto output = render(input, {0, 0, true, {kNoteC, kNoteE, kNoteG}});
        const double expected = noteHz(nearestNote(f0, ceg));
        const double measured = outputF0(output);
        const double error = measure::cents(measured, expected);
        EXPECT_NEAR(error, 0.0, 10.0)
            << "input " << f0 << " Hz, measured " << measured << ", expected " << expected;
        dumpIf(std::fabs(error) > 10.0, "ceg_" + std::to_string(static_cast<int>(f0)), input,
               output);
    }
}

namespace
{
// Envelope scale from a vowel with vibrato (its harmonics sweep across the formants, so the
// average spectrum shows the envelope between them), f0 from the same vowel held steady.
struct EnvelopeResult
{
    double scale;
    double inF0, outF0;
};

EnvelopeResult envelopeAndPitch(const Settings& s, double expectedScale, const std::string& name)
{
    const double f0 = 140.0;
    const auto input = measure::vowel(f0, kVowelA, kRate, kLength, 0.06);
    const auto output = render(input, s);
    const int size = 1024;
    const double lift = 0.0025; // well below the 7 ms period
    const auto inSpectrum =
        measure::smoothedLogSpectrum(input, 13000, kLength - 2000, kRate, size, lift);
    const auto outSpectrum =
        measure::smoothedLogSpectrum(output, 9765 + 13000, kLength - 2000, kRate, size, lift);
    const double scale = measure::envelopeScale(inSpectrum, outSpectrum, kRate, size);

    const auto steadyIn = measure::vowel(f0, kVowelA, kRate, kLength);
    const auto steadyOut = render(steadyIn, s);
    EnvelopeResult r{scale, inputF0(steadyIn), outputF0(steadyOut)};

    if (std::fabs(scale - expectedScale) > 0.03)
    {
        std::vector<double> hz(inSpectrum.size());
        for (size_t k = 0; k < hz.size(); ++k)
            hz[k] = k * kRate / size;
        measure::writeCsv(outputPath(name + "_envelopes.csv"), {hz, inSpectrum, outSpectrum},
                          "hz,in,out");
        measure::writeWav(outputPath(name + "_in.wav"), input, static_cast<int>(kRate));
        measure::writeWav(outputPath(name + "_out.wav"), output, static_cast<int>(kRate));
    }
    return r;
}
} // namespace

TEST(VoiceEndToEnd, FormantShiftScalesTheEnvelopeAndKeepsThePitch)
{
    const auto r = envelopeAndPitch({0, 600, false, {}}, 1.41, "formant_600");
    EXPECT_NEAR(r.scale, 1.41, 0.03);
    EXPECT_NEAR(measure::cents(r.outF0, r.inF0), 0.0, 15.0) << r.inF0 << " -> " << r.outF0;
}

TEST(VoiceEndToEnd, PitchShiftLeavesTheEnvelopeInPlace)
{
    const auto r = envelopeAndPitch({300, 0, false, {}}, 1.0, "pitch_300_envelope");
    EXPECT_NEAR(r.scale, 1.00, 0.03);
    EXPECT_NEAR(measure::cents(r.outF0, r.inF0 * std::pow(2.0, 0.25)), 0.0, 15.0)
        << r.inF0 << " -> " << r.outF0;
}

TEST(VoiceEndToEnd, OutputIsTheSameForAnyHostBlockSize)
{
    // A voice that glides and breathes, with every control away from its default.
    auto input = measure::vowel(160.0, kVowelA, kRate, kLength, 0.03);
    const auto glide = testsupport::pulseTrain(260.0, kRate, kLength, 0.2);
    const auto breath = testsupport::noise(kLength, 0.03f);
    for (size_t k = 0; k < kLength; ++k)
        input[k] = (k < kLength / 2 ? input[k] : glide[k]) + breath[k];
    const Settings s{300, -200, true, {kNoteC, kNoteE, kNoteG}};
    const auto reference = render(input, s, kLength);
    double energy = 0.0;
    for (float v : reference)
        energy += static_cast<double>(v) * v;
    ASSERT_GT(energy, 1.0) << "the effect produced (nearly) silence";
    for (size_t block : {1u, 64u, 4096u})
    {
        const auto output = render(input, s, block);
        ASSERT_EQ(output.size(), reference.size());
        size_t firstDifference = output.size();
        for (size_t k = 0; k < output.size(); ++k)
            if (output[k] != reference[k])
            {
                firstDifference = k;
                break;
            }
        EXPECT_EQ(firstDifference, output.size()) << "host block size " << block;
        if (firstDifference != output.size())
            measure::writeWav(outputPath("blocks_" + std::to_string(block) + ".wav"), output,
                              static_cast<int>(kRate));
    }
}

TEST(VoiceEndToEnd, ControlsFarOutsideTheirRangeKeepTheOutputFinite)
{
    // Host values beyond 0..1 give offsets of many octaves: targets far above any voice, or
    // formant ratios that overflow or vanish in single precision.
    const auto input = testsupport::pulseTrain(180.0, kRate, kLength / 2);
    for (float pitch : {-100.0f, -2.0f, 0.5f, 3.0f, 100.0f})
        for (float formant : {-100.0f, -2.0f, 0.5f, 3.0f, 100.0f})
        {
            auto host = loadPlugin();
            host->setParameter(kPitch, pitch);
            host->setParameter(kFormant, formant);
            const auto output = processInBlocks(*host, input, 4096);
            size_t bad = 0;
            for (float v : output)
                bad += std::isfinite(v) ? 0 : 1;
            EXPECT_EQ(bad, 0u) << "pitch " << pitch << ", formant " << formant;
        }
}

TEST(VoiceEndToEnd, PitchOffsetsAt48kHz)
{
    // At 48 kHz the grain buffers hold two periods only above about 94 Hz.
    const double rate = 48000.0;
    const size_t length = 96000;
    for (double f0 : {95.0, 150.0})
    {
        const auto input = testsupport::pulseTrain(f0, rate, length);
        for (int c : {0, 700, -1200})
        {
            auto host = loadPlugin();
            host->suspend();
            host->setSampleRate(static_cast<float>(rate));
            host->resume();
            host->setParameter(kPitch, centsValue(c));
            const int delay = host->effect()->initialDelay;
            const auto output = processInBlocks(*host, input, 512);
            const double expected = f0 * std::pow(2.0, c / 1200.0);
            const double measured = measure::f0ByAutocorrelation(output, delay + 14000,
                                                                 length - 2000, rate, 40.0, 1500.0);
            const double error = measure::cents(measured, expected);
            EXPECT_NEAR(error, 0.0, 15.0) << "input " << f0 << " Hz, offset " << c
                                          << " cents: measured " << measured << " Hz";
            dumpIf(std::fabs(error) > 15.0,
                   "pitch48k_" + std::to_string(static_cast<int>(f0)) + "_" + std::to_string(c),
                   input, output);
        }
    }
}
