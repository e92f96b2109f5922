// A render through Debian's lv2file, an offline LV2 host of its own that finds the bundle through
// LV2_PATH: the voice comes out shifted by the Pitch port, and snapped by Scale to the one note
// left enabled. f0 is measured by autocorrelation, independently of the effect's own analysis.
#include "lv2file.h"
#include "measure.h"
#include "render_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

constexpr double kRate = 44100.0;
constexpr double kSeconds = 3.0;

const std::vector<measure::Formant> kVowelA = {{700.0, 80.0}, {1220.0, 90.0}, {2600.0, 120.0}};

std::string outputPath(const std::string& name)
{
    return std::string(HALVERN_TEST_OUTPUT_DIR) + "/" + name;
}

std::vector<float> readMono(const std::string& path, int* rate)
{
    render::AudioReader reader(path);
    *rate = reader.rate();
    std::vector<float> samples(static_cast<size_t>(reader.frames()));
    samples.resize(reader.readMono(samples.data(), samples.size(), 0));
    return samples;
}

// Renders input through lv2file with the given port settings; the output, empty on failure.
std::vector<float> renderWithLv2file(const std::string& name, const std::vector<float>& input,
                                     const std::string& ports)
{
    const std::string in = outputPath(name + "-in.wav");
    const std::string out = outputPath(name + "-out.wav");
    measure::writeWav(in, input, static_cast<int>(kRate));
    std::remove(out.c_str());
    const std::string arguments = "--ignore-clipping -i '" + in + "' -o '" + out + "' " + ports +
                                  " urn:brakk:halvern > /dev/null";
    const std::string command =
        lv2filetest::lv2fileCommand(HALVERN_LV2_DIR ":" HALVERN_LV2_SPEC_DIR, arguments);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    int rate = 0;
    try
    {
        auto samples = readMono(out, &rate);
        EXPECT_EQ(rate, static_cast<int>(kRate));
        return samples;
    }
    catch (const render::RenderError& e)
    {
        ADD_FAILURE() << e.what();
        return {};
    }
}

// f0 over the second half, well past the delay (lv2file writes the raw, delayed stream).
double f0OfSecondHalf(const std::vector<float>& x)
{
    if (x.size() < static_cast<size_t>(kSeconds * kRate)) return 0.0;
    return measure::f0ByAutocorrelation(x, static_cast<size_t>(1.5 * kRate),
                                        static_cast<size_t>(2.9 * kRate), kRate);
}

TEST(Lv2file, PitchPortShiftsTheVoiceBySevenSemitones)
{
    const double f0 = 196.0;
    const auto input = measure::vowel(f0, kVowelA, kRate, static_cast<size_t>(kSeconds * kRate));
    const auto output = renderWithLv2file("lv2file-pitch", input, "-p pitch:7");
    ASSERT_EQ(output.size(), input.size());
    const double measured = f0OfSecondHalf(output);
    EXPECT_NEAR(measure::cents(measured, f0), 700.0, 10.0) << measured << " Hz";
}

TEST(Lv2file, ScaleSnapsToTheOnlyEnabledNote)
{
    const double a3 = 220.0;
    const double f0 = a3 * std::pow(2.0, -35 / 1200.0);
    const auto input = measure::vowel(f0, kVowelA, kRate, static_cast<size_t>(kSeconds * kRate));
    std::string ports = "-p scale:1";
    for (const char* note : {"c", "cs", "d", "ds", "e", "f", "fs", "g", "gs", "as", "b"})
        ports += std::string(" -p scale_") + note + ":0";
    const auto output = renderWithLv2file("lv2file-scale", input, ports);
    ASSERT_EQ(output.size(), input.size());
    EXPECT_NEAR(measure::cents(f0OfSecondHalf(input), a3), -35.0, 3.0);
    const double measured = f0OfSecondHalf(output);
    EXPECT_NEAR(measure::cents(measured, a3), 0.0, 10.0) << measured << " Hz";
}

} // namespace
