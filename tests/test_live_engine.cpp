// Halvern Live's engine on synthetic voices whose pitch is known: the output's pitch measured by
// autocorrelation, its delay by the envelope of bursts, its level by RMS.
#include "livevoice.h"
#include "measure.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace
{
const std::vector<measure::Formant> kVowelA = {{700, 80}, {1220, 90}, {2600, 120}};

std::vector<float> runLive(const std::vector<float>& x, const LiveControls& c, int rate,
                           int block = 256)
{
    LiveVoice voice(rate);
    std::vector<float> y(x.size());
    for (size_t i = 0; i < x.size(); i += block)
        voice.process(x.data() + i, y.data() + i,
                      static_cast<int>(std::min<size_t>(block, x.size() - i)), c);
    return y;
}

// The output's pitch in cents from reference, every 5 ms from `from` on.
std::vector<double> centsTrack(const std::vector<float>& y, int rate, double reference, size_t from)
{
    std::vector<double> track;
    for (size_t t = from; t + 2048 < y.size(); t += rate / 200)
        track.push_back(measure::cents(
            measure::f0ByAutocorrelation(y, t, t + 1500, rate, 150, 1000), reference));
    return track;
}

void keep(const std::string& name, const std::vector<float>& y, int rate)
{
    measure::writeWav(std::string(HALVERN_TEST_OUTPUT_DIR) + "/live_" + name + ".wav", y, rate);
}

LiveControls correcting(float retuneMs)
{
    LiveControls c;
    c.state.scaleOn = 1;
    c.retuneMs = retuneMs;
    return c;
}
} // namespace

// Notes sung off, some near halfway with vibrato (where per-frame snapping trills): at Retune 0
// each lands on one note and stays there; a long Retune keeps the vibrato.
TEST(LiveEngine, CorrectsAndHoldsNotes)
{
    const int rate = 44100;
    struct Case
    {
        double offCents, vibratoCents;
        float retuneMs;
        double maxDeviation, minSwing; // of the output from its note, cents
    };
    const Case cases[] = {
        {-35, 0, 0, 2, 0}, {30, 0, 0, 2, 0},  {45, 20, 0, 4, 0},
        {55, 20, 0, 4, 0}, {20, 35, 0, 4, 0}, {20, 35, 400, 40, 55},
    };
    for (const Case& k : cases)
    {
        const double depth = std::exp2(k.vibratoCents / 1200.0) - 1.0;
        const auto x = measure::vowel(220.0 * std::exp2(k.offCents / 1200.0), kVowelA, rate,
                                      2 * rate, depth, 5.0);
        const auto y = runLive(x, correcting(k.retuneMs), rate);
        const auto track = centsTrack(y, rate, 220.0, rate / 2);
        const double note = 100.0 * std::round(track.front() / 100.0);
        double lo = 1e9, hi = -1e9;
        for (double c : track)
        {
            lo = std::min(lo, c - note);
            hi = std::max(hi, c - note);
        }
        const std::string name = "note_" + std::to_string(static_cast<int>(k.offCents)) + "_" +
                                 std::to_string(static_cast<int>(k.retuneMs));
        if (std::max(-lo, hi) > k.maxDeviation || hi - lo < k.minSwing) keep(name, y, rate);
        EXPECT_LE(std::max(-lo, hi), k.maxDeviation) << name;
        EXPECT_GE(hi - lo, k.minSwing) << name;
    }
}

// Unvoiced sound (noise between bursts of voice shifted up) comes out as it went in, exactly the
// reported delay later, at two rates. (Voiced sound's delay is checked through the renderer.)
TEST(LiveEngine, UnvoicedPassesThroughAtTheReportedDelay)
{
    for (int rate : {44100, 96000})
    {
        const int latency = LiveVoice::latencyForRate(rate);
        EXPECT_EQ(latency, rate == 44100 ? 512 : 1114);
        const size_t n = 2 * rate;
        const auto vowel = measure::vowel(150.0, kVowelA, rate, n);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 0.05);
        std::vector<float> x(n, 0.0f);
        for (size_t i = 0; i < n; ++i)
            x[i] = (i / (rate / 4)) % 2        ? vowel[i]
                   : (i / (rate / 4)) % 4 == 2 ? noise(random)
                                               : 0.0;
        LiveControls c;
        c.state.pitchCents = 300;
        const auto y = runLive(x, c, rate);
        // the noise burst, well inside
        double error = 0.0, power = 0.0;
        for (int i = rate / 2 + rate / 50; i < 3 * rate / 4 - rate / 50; ++i)
        {
            error += std::pow(y[i + latency] - x[i], 2);
            power += x[i] * x[i];
        }
        EXPECT_LT(std::sqrt(error / power), 0.01) << rate;
    }
}

// Any Pitch and Formant keep the loudness within 1 dB, and the pitch where it was asked.
TEST(LiveEngine, LevelAndShift)
{
    const int rate = 44100;
    for (double f0 : {110.0, 220.0})
        for (int pitch : {-12, -5, 3, 12})
            for (int formant : {-12, 0, 12})
            {
                const auto x = measure::vowel(f0, kVowelA, rate, rate * 3 / 2);
                LiveControls c;
                c.state.pitchCents = pitch * 100.0f;
                c.state.formantCents = formant * 100.0f;
                const auto y = runLive(x, c, rate);
                auto rms = [&](const std::vector<float>& s)
                {
                    double sum = 0.0;
                    for (size_t i = rate / 2; i < s.size(); ++i)
                        sum += s[i] * s[i];
                    return std::sqrt(sum);
                };
                const double f = measure::f0ByAutocorrelation(y, rate, rate + 8192, rate, 40, 1000);
                const double wanted = f0 * std::exp2(pitch / 12.0);
                const std::string name = std::to_string(static_cast<int>(f0)) + " Hz, pitch " +
                                         std::to_string(pitch) + ", formant " +
                                         std::to_string(formant);
                EXPECT_NEAR(20.0 * std::log10(rms(y) / rms(x)), 0.0, 1.0) << name;
                // An octave error of the measurement itself is no shift error.
                const double off = measure::cents(f, wanted);
                EXPECT_LT(std::min(std::fabs(off), std::fabs(std::fabs(off) - 1200.0)), 2.0)
                    << name;
            }
}

// How the stream is cut into calls changes nothing.
TEST(LiveEngine, BlockSizeIndependent)
{
    const int rate = 48000;
    const auto x = measure::vowel(180.0, kVowelA, rate, rate, 0.02);
    LiveControls c = correcting(30.0f);
    c.state.pitchCents = 300.0f;
    c.state.formantCents = -200.0f;
    const auto whole = runLive(x, c, rate, rate);
    for (int block : {1, 37, 64, 8192})
        EXPECT_EQ(runLive(x, c, rate, block), whole) << block;
}
