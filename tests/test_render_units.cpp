// The renderer's parts on their own: option and key parsing, the semitone mapping against the
// real plug-in, sample conversion, output formats, files, the pitch tracker and the plot.
#include "render_audio.h"
#include "render_job.h"
#include "render_key.h"
#include "render_melody.h"
#include "render_options.h"
#include "render_pitch.h"
#include "render_plot.h"
#include "render_testsupport.h"
#include "testsupport.h"
#include "tuning_takes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <fstream>

using namespace render;

namespace
{

NoteSet notesOf(std::initializer_list<int> pitchClasses)
{
    NoteSet notes{};
    for (int p : pitchClasses)
        notes[p] = true;
    return notes;
}

enum
{
    C,
    Cs,
    D,
    Ds,
    E,
    F,
    Fs,
    G,
    Gs,
    A,
    As,
    B
};

RenderOptions parse(std::vector<std::string> args)
{
    return parseCommandLine(args);
}

double cents(double measured, double truth)
{
    return 1200.0 * std::log2(measured / truth);
}

} // namespace

TEST(NoteNames, NaturalsSharpsAndFlats)
{
    EXPECT_EQ(parseNoteName("C"), C);
    EXPECT_EQ(parseNoteName("D"), D);
    EXPECT_EQ(parseNoteName("E"), E);
    EXPECT_EQ(parseNoteName("F"), F);
    EXPECT_EQ(parseNoteName("G"), G);
    EXPECT_EQ(parseNoteName("A"), A);
    EXPECT_EQ(parseNoteName("B"), B);
    EXPECT_EQ(parseNoteName("F#"), Fs);
    EXPECT_EQ(parseNoteName("Bb"), As);
    EXPECT_EQ(parseNoteName("bb"), As);
    EXPECT_EQ(parseNoteName("e"), E);
    EXPECT_EQ(parseNoteName("Cb"), B); // wraps below C
    EXPECT_EQ(parseNoteName("B#"), C); // wraps above B
    EXPECT_EQ(parseNoteName("E#"), F);
    EXPECT_EQ(parseNoteName("C##"), D);
}

TEST(NoteNames, RejectsWhatIsNoNote)
{
    for (const char* text : {"", "H", "h", "C#x", "Cm", "#", "CB", "1", "C "})
        EXPECT_EQ(parseNoteName(text), -1) << '"' << text << '"';
}

TEST(Scales, KeysInMajorAndMinor)
{
    EXPECT_EQ(parseScale("C major"), notesOf({C, D, E, F, G, A, B}));
    EXPECT_EQ(parseScale("F# minor"), notesOf({Fs, Gs, A, B, Cs, D, E}));
    EXPECT_EQ(parseScale("Bb major"), notesOf({As, C, D, Ds, F, G, A}));
    EXPECT_EQ(parseScale("a minor"), parseScale("C major"));
    EXPECT_EQ(parseScale("  G   Major "), notesOf({G, A, B, C, D, E, Fs}));
    EXPECT_EQ(parseScale("Eb minor"), notesOf({Ds, F, Fs, Gs, As, B, Cs}));
}

TEST(Scales, ChromaticAndNoteLists)
{
    NoteSet all;
    all.fill(true);
    EXPECT_EQ(parseScale("chromatic"), all);
    EXPECT_EQ(parseScale("Chromatic"), all);
    EXPECT_EQ(parseScale("C,D,E,G,A"), notesOf({C, D, E, G, A}));
    EXPECT_EQ(parseScale(" C# , Eb,F "), notesOf({Cs, Ds, F}));
    EXPECT_EQ(parseScale("A"), notesOf({A}));
    EXPECT_EQ(parseScale("C,C,C"), notesOf({C}));
}

TEST(Scales, RejectsUnknownKeysModesAndLists)
{
    for (const char* text :
         {"H major", "C dorian", "", "C,,D", "C major,", "C,D,H", "major", "C# minor x"})
        EXPECT_THROW(parseScale(text), UsageError) << '"' << text << '"';
    try
    {
        parseScale("H major");
        FAIL();
    }
    catch (const UsageError& error)
    {
        EXPECT_NE(std::string(error.what()).find("\"H\""), std::string::npos) << error.what();
    }
}

TEST(Scales, DescriptionListsNotesFromC)
{
    EXPECT_EQ(describeNotes(parseScale("F# minor")), "C# D E F# G# A B");
    EXPECT_EQ(describeNotes(NoteSet{}), "(none)");
}

TEST(Semitones, AcceptsTheRangeAndRejectsTheRest)
{
    EXPECT_EQ(parseSemitones("--pitch", "3.5"), 3.5);
    EXPECT_EQ(parseSemitones("--pitch", "+12"), 12.0);
    EXPECT_EQ(parseSemitones("--pitch", "-12"), -12.0);
    EXPECT_EQ(parseSemitones("--pitch", "1e1"), 10.0);
    EXPECT_EQ(parseSemitones("--pitch", " 0 "), 0.0);
    for (const char* text :
         {"13", "-12.01", "12.0001", "abc", "", "3.5x", "nan", "inf", "-inf", "1e400", "0x"})
        EXPECT_THROW(parseSemitones("--pitch", text), UsageError) << '"' << text << '"';
}

TEST(Semitones, EveryStepLandsOnItselfInThePlugin)
{
    // The plug-in truncates (v - 0.5) * 240 in single precision; the renderer's host value must
    // land on the intended 10-cent step for every step, including the ends.
    auto host = testsupport::loadPlugin();
    for (int step = -120; step <= 120; ++step)
    {
        const double semitones = step / 10.0;
        host->setParameter(kPitchParameter, semitonesToHostValue(semitones));
        const int taken =
            static_cast<int>(std::lround((host->getParameter(kPitchParameter) - 0.5) * 240.0));
        ASSERT_EQ(taken, step) << semitones;
        char expected[16];
        std::snprintf(expected, sizeof expected, "%+3.1f", semitones);
        ASSERT_EQ(host->parameterDisplay(kPitchParameter), expected);
    }
}

TEST(Semitones, RequestsRoundToTheNearestStep)
{
    EXPECT_EQ(nearestTenthSemitone(0.33), 3);
    EXPECT_EQ(nearestTenthSemitone(0.36), 4);
    EXPECT_EQ(nearestTenthSemitone(-0.36), -4);
    EXPECT_EQ(nearestTenthSemitone(11.96), 120);
    EXPECT_EQ(semitonesToHostValue(12.0), 1.0f);
    EXPECT_EQ(semitonesToHostValue(-12.0), 0.0f);
    EXPECT_EQ(semitonesToHostValue(0.04), 0.5f);
    // 3.5 semitones computed the naive way (0.5 + 3.5 / 24) truncates to 340 cents; the middle of
    // the step does not.
    const float naive = static_cast<float>(0.5 + 3.5 / 24.0);
    EXPECT_EQ(static_cast<int>((naive - 0.5f) * 240.0), 34);
    EXPECT_EQ(static_cast<int>(static_cast<double>(semitonesToHostValue(3.5) - 0.5f) * 240.0), 35);
}

TEST(CommandLine, OptionsAndTheirValues)
{
    const RenderOptions o = parse({"in.wav", "--pitch", "-3", "--formant=2.5", "--scale", "D minor",
                                   "--block", "256", "--format", "float", "-j", "3", "--channel",
                                   "2", "-q", "-f", "--keep-latency", "-o", "out.wav"});
    EXPECT_EQ(o.inputs, std::vector<std::string>{"in.wav"});
    EXPECT_EQ(o.output, "out.wav");
    EXPECT_TRUE(o.pitchGiven);
    EXPECT_EQ(o.pitchSemitones, -3.0);
    EXPECT_TRUE(o.formantGiven);
    EXPECT_EQ(o.formantSemitones, 2.5);
    EXPECT_TRUE(o.scale.given);
    EXPECT_EQ(o.scale.notes, notesOf({D, E, F, G, A, As, C}));
    EXPECT_EQ(o.blockSize, 256);
    EXPECT_EQ(o.format, SampleFormat::Float);
    EXPECT_EQ(o.jobs, 3);
    EXPECT_EQ(o.channel, 2);
    EXPECT_TRUE(o.quiet && o.force && o.keepLatency);

    const RenderOptions defaults = parse({"a.wav", "-o", "b.wav"});
    EXPECT_EQ(defaults.blockSize, 512);
    EXPECT_FALSE(defaults.pitchGiven || defaults.formantGiven || defaults.scale.given);
    EXPECT_EQ(defaults.channel, 0);
    EXPECT_EQ(defaults.jobs, 0);

    const RenderOptions dashed = parse({"--out-dir", "d", "--", "-odd.wav", "b.wav"});
    EXPECT_EQ(dashed.inputs, (std::vector<std::string>{"-odd.wav", "b.wav"}));
    EXPECT_TRUE(parse({"--help"}).help);
}

TEST(CommandLine, RefusesBadCombinationsAndValues)
{
    const std::vector<std::vector<std::string>> bad = {
        {"-o", "out.wav"},                           // no input
        {"in.wav"},                                  // no output
        {"in.wav", "-o", "a.wav", "--out-dir", "d"}, // both
        {"a.wav", "b.wav", "-o", "out.wav"},         // -o with two inputs
        {"a.wav", "b.wav", "--out-dir", "d", "--pitch-plot", "p.png"},
        {"in.wav", "-o"},     // missing value
        {"in.wav", "-o", ""}, // empty path
        {"in.wav", "-o", "x.wav", "--block", "0"},
        {"in.wav", "-o", "x.wav", "--block", "2000000"},
        {"in.wav", "-o", "x.wav", "--channel", "-1"},
        {"in.wav", "-o", "x.wav", "--quiet=yes"},
    };
    for (const auto& args : bad)
    {
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_THROW(parse(args), UsageError) << line;
    }
}

TEST(SampleConversion, SixteenBitFullScaleAndClipping)
{
    bool clipped = false;
    EXPECT_EQ(quantiseSample(0.5f, 16, clipped), 16384 << 16);
    EXPECT_FALSE(clipped);
    EXPECT_EQ(quantiseSample(-1.0f, 16, clipped), INT32_MIN);
    EXPECT_FALSE(clipped); // -32768 exists
    EXPECT_EQ(quantiseSample(32767.0f / 32768.0f, 16, clipped), 32767 << 16);
    EXPECT_FALSE(clipped);
    EXPECT_EQ(quantiseSample(1.0f, 16, clipped), 32767 << 16);
    EXPECT_TRUE(clipped); // +32768 does not
    EXPECT_EQ(quantiseSample(-1.5f, 16, clipped), INT32_MIN);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(quantiseSample(3.0f / 32768.0f, 16, clipped), 3 << 16);
}

TEST(SampleConversion, OtherDepths)
{
    bool clipped = false;
    EXPECT_EQ(quantiseSample(0.25f, 24, clipped), (1 << 21) << 8);
    EXPECT_FALSE(clipped);
    EXPECT_EQ(quantiseSample(2.0f, 24, clipped), 8388607 << 8);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(quantiseSample(-0.5f, 8, clipped), -(64 << 24));
    EXPECT_FALSE(clipped);
    EXPECT_EQ(quantiseSample(1.0f, 32, clipped), INT32_MAX);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(quantiseSample(-1.0f, 32, clipped), INT32_MIN);
    EXPECT_FALSE(clipped);
}

TEST(OutputFormat, ContainerFromTheNameSamplesFromTheInput)
{
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const int oggVorbis = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    const auto follow = SampleFormat::FollowInput;
    EXPECT_EQ(chooseOutputFormat(wav16, "a/out.wav", follow, 44100), wav16);
    EXPECT_EQ(chooseOutputFormat(wav16, "OUT.FLAC", follow, 44100),
              SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    EXPECT_EQ(chooseOutputFormat(wav16, "x.aiff", follow, 44100),
              SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(chooseOutputFormat(wav16, "x.ogg", follow, 44100), oggVorbis);
    EXPECT_EQ(chooseOutputFormat(oggVorbis, "x.wav", follow, 44100),
              SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(chooseOutputFormat(SF_FORMAT_WAV | SF_FORMAT_FLOAT, "x.flac", follow, 44100),
              SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(chooseOutputFormat(wav16, "x.wav", SampleFormat::Float, 44100),
              SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(chooseOutputFormat(wav16, "x.flac", SampleFormat::Pcm24, 44100),
              SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_THROW(chooseOutputFormat(wav16, "x.flac", SampleFormat::Float, 44100), RenderError);
    EXPECT_THROW(chooseOutputFormat(wav16, "x.mp4", follow, 44100), RenderError);
    EXPECT_THROW(chooseOutputFormat(wav16, "noextension", follow, 44100), RenderError);
    EXPECT_THROW(chooseOutputFormat(wav16, "dir.wav/x", follow, 44100), RenderError);
}

TEST(Files, FloatOutputKeepsLoudSamplesAndPcmCountsThem)
{
    const std::string dir = rendertest::scratchFolder();
    const std::vector<float> loud = {0.0f, 1.5f, -2.0f, 0.25f, 1.0f, -1.0f, NAN};
    {
        AudioWriter writer(dir + "/float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100);
        writer.write(loud.data(), loud.size());
        writer.commit(false);
        EXPECT_EQ(writer.clippedSamples(), 0);
        EXPECT_EQ(writer.nonFiniteSamples(), 1);
    }
    const auto f = rendertest::readAudio(dir + "/float.wav");
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.samples, (std::vector<float>{0.0f, 1.5f, -2.0f, 0.25f, 1.0f, -1.0f, 0.0f}));

    AudioWriter writer(dir + "/pcm.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100);
    writer.write(loud.data(), loud.size());
    writer.commit(false);
    EXPECT_EQ(writer.clippedSamples(), 3); // 1.5, -2.0 and 1.0; -1.0 fits
    const auto p = rendertest::readAudio(dir + "/pcm.wav");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.samples[2], -1.0f);
    EXPECT_EQ(p.samples[3], 0.25f);
    EXPECT_EQ(p.samples[1], 32767.0f / 32768.0f);
}

TEST(Files, UncommittedOutputLeavesNothing)
{
    const std::string dir = rendertest::scratchFolder();
    {
        AudioWriter writer(dir + "/never.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100);
        const float x[3] = {0.1f, 0.2f, 0.3f};
        writer.write(x, 3);
        EXPECT_EQ(rendertest::listFolder(dir).size(), 1u); // the temporary
    }
    EXPECT_TRUE(rendertest::listFolder(dir).empty());
}

TEST(Files, CommitDoesNotReplaceWithoutBeingAsked)
{
    const std::string dir = rendertest::scratchFolder();
    const std::string path = dir + "/taken.wav";
    std::ofstream(path) << "keep me";
    {
        OutputFile file(path);
        ASSERT_EQ(write(file.fd(), "new", 3), 3);
        EXPECT_THROW(file.commit(false), RenderError);
    }
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "keep me");
    EXPECT_EQ(rendertest::listFolder(dir), std::set<std::string>{"taken.wav"});

    OutputFile file(path);
    ASSERT_EQ(write(file.fd(), "new", 3), 3);
    file.commit(true);
    std::ifstream again(path);
    std::string replaced((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    EXPECT_EQ(replaced, "new");
    EXPECT_EQ(rendertest::listFolder(dir), std::set<std::string>{"taken.wav"});
}

TEST(Files, ReaderMixesDownOrPicksAChannel)
{
    const std::string dir = rendertest::scratchFolder();
    std::vector<float> stereo;
    for (int k = 0; k < 100; ++k)
    {
        stereo.push_back(0.5f);
        stereo.push_back(k % 2 ? -0.25f : 0.25f);
    }
    rendertest::writeAudio(dir + "/stereo.wav", stereo, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> mono(100);
    {
        AudioReader reader(dir + "/stereo.wav");
        EXPECT_EQ(reader.channels(), 2);
        EXPECT_EQ(reader.frames(), 100);
        ASSERT_EQ(reader.readMono(mono.data(), 100, 0), 100u);
        EXPECT_EQ(mono[0], 0.375f);
        EXPECT_EQ(mono[1], 0.125f);
        EXPECT_EQ(reader.readMono(mono.data(), 100, 0), 0u);
    }
    AudioReader reader(dir + "/stereo.wav");
    ASSERT_EQ(reader.readMono(mono.data(), 100, 2), 100u);
    EXPECT_EQ(mono[0], 0.25f);
    EXPECT_EQ(mono[1], -0.25f);
}

TEST(RateCheck, RefusesOnlyAPluginThatKeptItsDelay)
{
    EXPECT_TRUE(rateRefused(48000, 9765, 9765));
    EXPECT_TRUE(rateRefused(22050, 9765, 9765));
    EXPECT_FALSE(rateRefused(44100, 9765, 9765));
    EXPECT_FALSE(rateRefused(48000, 9765, 10448));
}

TEST(PitchTracker, SteadyTonesWithinThreeCents)
{
    for (double rate : {44100.0, 48000.0, 22050.0})
        for (double f0 : {82.0, 110.0, 220.0, 440.0, 800.0})
        {
            const auto signal = rendertest::voicedTone([f0](double) { return f0; }, rate, 1.0);
            const PitchTrack track = trackPitch(signal, rate);
            ASSERT_EQ(track.times.size(), track.f0.size());
            size_t voiced = 0, inner = 0;
            double worst = 0.0;
            for (size_t i = 0; i < track.f0.size(); ++i)
            {
                if (track.times[i] < 0.05 || track.times[i] > 0.95) continue;
                ++inner;
                if (track.f0[i] > 0.0)
                {
                    ++voiced;
                    worst = std::max(worst, std::fabs(cents(track.f0[i], f0)));
                }
            }
            EXPECT_EQ(voiced, inner) << f0 << " Hz at " << rate;
            EXPECT_LT(worst, 3.0) << f0 << " Hz at " << rate;
        }
}

TEST(PitchTracker, FollowsAGlide)
{
    const double rate = 44100.0;
    auto f0At = [](double t) { return 150.0 * std::exp2(t); }; // one octave per second
    const PitchTrack track = trackPitch(rendertest::voicedTone(f0At, rate, 2.0), rate);
    size_t voiced = 0, inner = 0;
    for (size_t i = 0; i < track.f0.size(); ++i)
    {
        if (track.times[i] < 0.05 || track.times[i] > 1.95) continue;
        ++inner;
        if (track.f0[i] > 0.0)
        {
            ++voiced;
            EXPECT_LT(std::fabs(cents(track.f0[i], f0At(track.times[i]))), 10.0)
                << "at " << track.times[i] << " s";
        }
    }
    EXPECT_GE(voiced, inner * 95 / 100);
}

TEST(PitchTracker, SilenceAndNoiseAreUnvoiced)
{
    const double rate = 44100.0;
    const PitchTrack silent = trackPitch(std::vector<float>(44100, 0.0f), rate);
    EXPECT_EQ(silent.f0.size(), 101u);
    for (double f : silent.f0)
        EXPECT_EQ(f, 0.0);

    const PitchTrack noisy = trackPitch(testsupport::noise(44100, 0.3f), rate);
    const size_t voiced = static_cast<size_t>(
        std::count_if(noisy.f0.begin(), noisy.f0.end(), [](double f) { return f > 0.0; }));
    EXPECT_LE(voiced, noisy.f0.size() / 10);

    // A quiet stretch after a loud one is gated as silence.
    auto tone = rendertest::voicedTone([](double) { return 200.0; }, rate, 1.0);
    for (size_t k = 22050; k < tone.size(); ++k)
        tone[k] *= 1e-4f;
    const PitchTrack gated = trackPitch(tone, rate);
    EXPECT_GT(gated.f0[20], 0.0);
    EXPECT_EQ(gated.f0[80], 0.0);
}

TEST(Plot, NoteLabelsAndPitchAxis)
{
    EXPECT_EQ(midiNoteLabel(60), "C4");
    EXPECT_EQ(midiNoteLabel(69), "A4");
    EXPECT_EQ(midiNoteLabel(59), "B3");
    EXPECT_EQ(midiNoteLabel(61), "C#4");
    EXPECT_NEAR(frequencyOfMidi(69), 440.0, 1e-12);
    EXPECT_NEAR(midiOfFrequency(261.6255653005986), 60.0, 1e-9);

    PitchTrack input{{0.0, 0.01, 0.02}, {220.0, 0.0, 330.0}, {}};
    PitchTrack output{{0.0, 0.01}, {0.0, 247.0}, {}};
    const PlotGeometry g = plotGeometryFor(input, output, 2.0);
    EXPECT_LE(frequencyOfMidi(g.lowMidi), 220.0);
    EXPECT_GE(frequencyOfMidi(g.highMidi), 330.0);
    EXPECT_GE(g.highMidi - g.lowMidi, 12);
    // An octave spans 12 of the axis's semitones, higher pitch is higher up.
    const double plotHeight = g.height - g.top - g.bottom;
    EXPECT_NEAR(g.yForFrequency(220.0) - g.yForFrequency(440.0),
                plotHeight * 12.0 / (g.highMidi - g.lowMidi), 1e-9);
    EXPECT_NEAR(g.yForFrequency(frequencyOfMidi(g.lowMidi)), g.height - g.bottom, 1e-9);
    EXPECT_NEAR(g.xForTime(0.0), g.left, 1e-12);
    EXPECT_NEAR(g.xForTime(2.0), g.width - g.right, 1e-12);

    const PlotGeometry empty = plotGeometryFor(PitchTrack{}, PitchTrack{}, 1.0);
    EXPECT_EQ(empty.lowMidi, 48);
    EXPECT_EQ(empty.highMidi, 72);
}

TEST(Plot, CurvesAppearWhereTheirPitchIs)
{
    const std::string dir = rendertest::scratchFolder();
    PitchTrack input, output;
    for (int i = 0; i < 100; ++i)
    {
        input.times.push_back(i * 0.01);
        input.f0.push_back(220.0);
        output.times.push_back(i * 0.01);
        output.f0.push_back(330.0);
    }
    const std::string path = dir + "/plot.png";
    writePitchPlot(path, input, output, 1.0, parseScale("A minor"), "test", false);
    EXPECT_THROW(writePitchPlot(path, input, output, 1.0, parseScale("A minor"), "test", false),
                 RenderError);
    EXPECT_EQ(rendertest::listFolder(dir), std::set<std::string>{"plot.png"});

    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    const PlotGeometry g = plotGeometryFor(input, output, 1.0);
    ASSERT_EQ(cairo_image_surface_get_width(image), g.width);
    ASSERT_EQ(cairo_image_surface_get_height(image), g.height);
    const unsigned char* pixels = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    auto pixel = [&](int x, int y)
    {
        const uint32_t v = *reinterpret_cast<const uint32_t*>(pixels + y * stride + 4 * x);
        return std::array<int, 3>{static_cast<int>((v >> 16) & 255),
                                  static_cast<int>((v >> 8) & 255), static_cast<int>(v & 255)};
    };
    const int x = static_cast<int>(g.xForTime(0.5));
    auto bluish = [](std::array<int, 3> c) { return c[2] > 150 && c[0] < 120; };
    auto orange = [](std::array<int, 3> c) { return c[0] > 200 && c[2] < 80; };
    auto rowHas = [&](double hz, auto test)
    {
        const int y = static_cast<int>(std::lround(g.yForFrequency(hz)));
        for (int dy = -2; dy <= 2; ++dy)
            if (test(pixel(x, y + dy))) return true;
        return false;
    };
    EXPECT_TRUE(rowHas(220.0, bluish));
    EXPECT_TRUE(rowHas(330.0, orange));
    EXPECT_FALSE(rowHas(330.0, bluish));
    EXPECT_FALSE(rowHas(220.0, orange));
    EXPECT_FALSE(rowHas(275.0, orange));
    cairo_surface_destroy(image);
}

TEST(KeyFinder, NamesTheKeyOfDetunedTakesWithVibrato)
{
    // Every tune in four keys, its notes sung up to 40 cents off either way.
    int right = 0, takes = 0, keptSeventh = 0;
    std::string wrong;
    for (const tuningtest::Tune& tune : tuningtest::tunes())
        for (int tonic : {0, 3, 7, 10})
        {
            const auto take = tuningtest::singTune(tune, tonic, 40.0, false, 17u * tonic + 3u);
            const KeyEstimate key = findKey(trackPitch(take.samples, take.rate));
            const int relative = (tonic + (tune.minor ? 3 : 9)) % 12;
            const bool named = key.decided && ((key.tonic == tonic && key.minor == tune.minor) ||
                                               (key.tonic == relative && key.minor != tune.minor));
            right += named;
            ++takes;
            if (!named)
            {
                wrong += std::string(tune.name) + " in " + noteName(tonic) + ": " +
                         describeKey(key) + "\n";
            }
            // The notes of the tune are tuned to, raised seventh included.
            if (tune.name == std::string("lament")) keptSeventh += key.notes[(tonic + 11) % 12];
        }
    EXPECT_GE(right, takes * 9 / 10) << wrong;
    EXPECT_GE(keptSeventh, 3); // the minor tune's raised seventh, held for a sixth of its time
}

TEST(KeyFinder, OneHeldNoteOrNoiseNamesNoKey)
{
    const double rate = 44100.0;
    auto vibrato = [](double t) { return 220.0 * std::exp2(0.015 * std::sin(2 * M_PI * 5 * t)); };
    const KeyEstimate held = findKey(trackPitch(rendertest::voicedTone(vibrato, rate, 4.0), rate));
    EXPECT_FALSE(held.decided);
    EXPECT_EQ(describeKey(held), "key: undecided (1 distinct note in 4.0 s); tuning chromatic");
    const KeyEstimate noise = findKey(trackPitch(testsupport::noise(4 * 44100, 0.3f), rate));
    EXPECT_FALSE(noise.decided);
    EXPECT_EQ(noise.notes, parseScale("chromatic"));
}

TEST(KeyFinder, ThreeNotesOfOneKeyInUnderTwoSecondsNameNoKey)
{
    // C, E and G: a key given the time, but too short a take to name one.
    const double rate = 44100.0;
    auto notes = [](double t) { return t < 0.5 ? 261.63 : t < 1.0 ? 329.63 : 392.0; };
    const KeyEstimate key = findKey(trackPitch(rendertest::voicedTone(notes, rate, 1.5), rate));
    EXPECT_FALSE(key.decided);
    EXPECT_EQ(key.notes, parseScale("chromatic"));
    EXPECT_EQ(describeKey(key), "key: undecided (only 1.5 s of steady notes); tuning chromatic");
}

TEST(Melody, AnOffsetPutsTheFilesTimeZeroThatFarIntoTheTake)
{
    const Melody tune{"tune.mid", 1, {{0.0, 1.0, 60}, {1.0, 2.0, 62}}};
    auto switches = [](Melody melody, double offset)
    {
        shiftMelody(melody, offset);
        std::vector<std::pair<int64_t, int>> changes;
        for (const SwitchChange& change : melodySwitches(melody, 1000.0))
            changes.push_back({change.at, change.pitchClass});
        return changes;
    };
    using Changes = std::vector<std::pair<int64_t, int>>;
    EXPECT_EQ(switches(tune, 0.5), (Changes{{0, -1}, {500, 0}, {1500, 2}, {2500, -1}}));
    EXPECT_EQ(switches(tune, -1.5), (Changes{{0, 2}, {500, -1}}));
    Melody gone = tune;
    EXPECT_THROW(shiftMelody(gone, -2.0), MelodyError);
}
