// Halvern Live (Retune 0 and 50 ms), Halvern and the x42 autotuner side by side in one run, on
// generated voices and real singing: delay, chromatic correction, a +3 semitone shift, clicks,
// CPU per second of voice and the spread of 64-sample call times. Prints one Markdown table.
//
// A measurement, not a test: nothing here passes or fails. Run by hand:
//   sh bench/live_bench_inputs.sh build && build/bench/live_bench
// Environment:
//   HALVERN_BENCH_RECORDINGS  folder with list.tsv (relative path <TAB> origin) of real singing
//                             (default: the one bench/live_bench_inputs.sh fills in the build)
//   HALVERN_LIVE_PLUGIN       a built HalvernLive.so: measured too, through its entry point
//
// Live is measured through its class (the plug-in is a thin door over it), Halvern through its
// built VST 2.x library as a host loads it, x42 through Debian's lv2file on WAV files.
#include "livevoice.h"
#include "measure.h"
#include "pluginhost.h"

#include <lilv/lilv.h>
#include <sndfile.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace
{

constexpr int kRate = 44100;
constexpr size_t kTail = 16384; // silence after every input, so that any delay fits
constexpr int kBursts = 8;
using Signal = std::vector<float>;
using measure::Formant;

const std::vector<Formant> kVowels[5] = {
    {{700, 80}, {1220, 90}, {2600, 120}},  // a
    {{530, 60}, {1840, 100}, {2480, 120}}, // e
    {{300, 60}, {2250, 100}, {3000, 120}}, // i
    {{570, 70}, {840, 80}, {2410, 120}},   // o
    {{320, 60}, {870, 80}, {2240, 120}},   // u
};

double noteHz(double midi, double cents = 0.0)
{
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0 + cents / 1200.0);
}

// ---------------------------------------------------------------------------------------------
// Generated voices

// A sung vowel along a pitch contour (Hz per sample) and a level contour: harmonics up to 5 kHz
// under the formants with a gentle source tilt, and a breath of noise 50 dB down.
Signal sing(const std::vector<double>& hz, const std::vector<double>& level,
            const std::vector<Formant>& formants, double peak = 0.35)
{
    std::vector<double> v(hz.size(), 0.0);
    double phase = 0.0;
    uint32_t noise = 12345;
    for (size_t k = 0; k < hz.size(); ++k)
    {
        const double f = hz[k];
        phase += 2.0 * measure::kPi * f / kRate;
        const int harmonics = static_cast<int>(5000.0 / f);
        double sum = 0.0;
        for (int h = 1; h <= harmonics; ++h)
            sum += measure::formantGain(formants, h * f) / std::sqrt(static_cast<double>(h)) *
                   std::sin(h * phase + 0.7 * h * h);
        v[k] = sum * level[k];
    }
    double m = 0.0;
    for (double s : v)
        m = std::max(m, std::fabs(s));
    Signal out(v.size());
    for (size_t k = 0; k < v.size(); ++k)
    {
        noise = noise * 1664525u + 1013904223u;
        const double n = (static_cast<double>(noise >> 8) / 8388608.0 - 1.0) * 0.003 * level[k];
        out[k] = static_cast<float>(peak * v[k] / m + n);
    }
    return out;
}

// Raised-cosine fade in and out over rampSeconds.
std::vector<double> levelContour(size_t length, double rampSeconds)
{
    std::vector<double> level(length, 1.0);
    const size_t ramp = static_cast<size_t>(rampSeconds * kRate);
    for (size_t k = 0; k < ramp && k < length; ++k)
    {
        const double g = 0.5 - 0.5 * std::cos(measure::kPi * k / ramp);
        level[k] *= g;
        level[length - 1 - k] *= g;
    }
    return level;
}

void append(Signal& to, const Signal& x)
{
    to.insert(to.end(), x.begin(), x.end());
}

void appendSilence(Signal& to, double seconds)
{
    to.insert(to.end(), static_cast<size_t>(seconds * kRate), 0.0f);
}

// Short vowels on notes in tune, apart: their envelopes give the delay.
Signal bursts()
{
    Signal out;
    appendSilence(out, 0.3);
    const int notes[] = {57, 62, 65, 60, 55, 67, 52, 64};
    for (int i = 0; i < kBursts; ++i)
    {
        const size_t n = static_cast<size_t>(0.25 * kRate);
        append(out, sing(std::vector<double>(n, noteHz(notes[i])), levelContour(n, 0.01),
                         kVowels[i % 5]));
        appendSilence(out, 0.4);
    }
    return out;
}

// Eight held notes sung 10 to 45 cents off, each on its own vowel, 5-cent vibrato, apart.
const int kHeldNotes[] = {45, 50, 55, 57, 60, 64, 67, 69};
const double kHeldOff[] = {10, -20, 30, -45, 40, -15, 25, -35};

Signal heldNotesOff()
{
    Signal out;
    appendSilence(out, 0.2);
    for (int i = 0; i < 8; ++i)
    {
        const size_t n = static_cast<size_t>(0.9 * kRate);
        std::vector<double> hz(n);
        for (size_t k = 0; k < n; ++k)
            hz[k] = noteHz(kHeldNotes[i],
                           kHeldOff[i] + 5.0 * std::sin(2.0 * measure::kPi * 5.0 * k / kRate));
        append(out, sing(hz, levelContour(n, 0.025), kVowels[i % 5]));
        appendSilence(out, 0.15);
    }
    return out;
}

// A legato phrase: each note a little off, 70 ms glides between notes, 20-cent vibrato at
// 5.5 Hz fading in after 150 ms of each note.
Signal melody(const std::vector<int>& notes, const std::vector<double>& off, double noteSeconds,
              const std::vector<Formant>& vowel)
{
    const size_t per = static_cast<size_t>(noteSeconds * kRate);
    const size_t glide = static_cast<size_t>(0.07 * kRate);
    const size_t n = per * notes.size();
    std::vector<double> hz(n);
    for (size_t i = 0; i < notes.size(); ++i)
    {
        const double centre = 100.0 * notes[i] + off[i];
        const double previous = i ? 100.0 * notes[i - 1] + off[i - 1] : centre;
        for (size_t k = 0; k < per; ++k)
        {
            double c = centre;
            if (k < glide)
            {
                const double u = static_cast<double>(k) / glide;
                c = previous + (centre - previous) * (3 * u * u - 2 * u * u * u);
            }
            const double t = static_cast<double>(k) / kRate;
            const double fadeIn = std::clamp((t - 0.15) / 0.15, 0.0, 1.0);
            c += 20.0 * fadeIn * std::sin(2.0 * measure::kPi * 5.5 * t);
            hz[i * per + k] = noteHz(c / 100.0);
        }
    }
    return sing(hz, levelContour(n, 0.03), vowel);
}

Signal melodies()
{
    Signal out;
    appendSilence(out, 0.2);
    append(out, melody({48, 50, 52, 53, 55, 53, 52, 50, 48}, {15, -10, 20, -18, 8, -22, 12, -6, 18},
                       0.5, kVowels[0]));
    appendSilence(out, 0.3);
    append(out, melody({64, 67, 69, 72, 71, 69, 67, 64}, {-12, 18, -20, 10, -16, 22, -8, 14}, 0.55,
                       kVowels[1]));
    appendSilence(out, 0.2);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Files

bool readSoundFile(const std::string& path, Signal& out, int& rate, int& channels)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return false;
    std::vector<float> interleaved(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_float(f, interleaved.data(), info.frames);
    sf_close(f);
    rate = info.samplerate;
    channels = info.channels;
    out.assign(static_cast<size_t>(info.frames), 0.0f);
    for (size_t k = 0; k < out.size(); ++k)
    {
        double s = 0.0;
        for (int c = 0; c < channels; ++c)
            s += interleaved[k * channels + c];
        out[k] = static_cast<float>(s / channels);
    }
    return true;
}

bool writeSoundFile(const std::string& path, const Signal& x)
{
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_writef_float(f, x.data(), static_cast<sf_count_t>(x.size()));
    sf_close(f);
    return true;
}

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Recording
{
    std::string name, origin;
    Signal samples;
};

// Real singing: each file of list.tsv, mixed to mono and resampled to 44.1 kHz by sox.
std::vector<Recording> loadRecordings(const std::string& folder, const std::string& tmp,
                                      std::vector<std::string>& notes)
{
    std::vector<Recording> found;
    std::ifstream list(folder + "/list.tsv");
    if (!list)
    {
        notes.push_back("No real recordings: " + folder +
                        "/list.tsv is missing (run bench/live_bench_inputs.sh).");
        return found;
    }
    std::string line;
    while (std::getline(list, line))
    {
        const size_t tab = line.find('\t');
        if (line.empty() || tab == std::string::npos) continue;
        Recording r{line.substr(0, tab), line.substr(tab + 1), {}};
        const std::string path = folder + "/" + r.name;
        const std::string converted = tmp + "/recording.wav";
        int rate = 0, channels = 0;
        const std::string command = "sox " + quote(path) + " -b 32 -e floating-point " +
                                    quote(converted) + " remix - rate -v 44100 2>/dev/null";
        if (std::system(command.c_str()) != 0 ||
            !readSoundFile(converted, r.samples, rate, channels) || rate != kRate)
        {
            notes.push_back("Could not decode " + path + " with sox; left out.");
            continue;
        }
        found.push_back(std::move(r));
    }
    return found;
}

// ---------------------------------------------------------------------------------------------
// Measures

double median(std::vector<double> v);

// Envelope (RMS over 64 samples) every 4 samples.
std::vector<double> envelope(const Signal& x)
{
    std::vector<double> prefix(x.size() + 1, 0.0);
    for (size_t k = 0; k < x.size(); ++k)
        prefix[k + 1] = prefix[k] + static_cast<double>(x[k]) * x[k];
    std::vector<double> e(x.size() / 4);
    for (size_t i = 0; i < e.size(); ++i)
    {
        const size_t a = i * 4 >= 32 ? i * 4 - 32 : 0, b = std::min(x.size(), i * 4 + 32);
        e[i] = std::sqrt((prefix[b] - prefix[a]) / 64.0);
    }
    return e;
}

// The lag (samples, 0..maxLag) at which the output's envelope best matches the input's,
// refined by a parabola through the peak of the normalised cross-correlation.
double measuredDelay(const Signal& in, const Signal& out, int maxLag = 14000)
{
    auto a = envelope(in), b = envelope(out);
    auto centre = [](std::vector<double>& e)
    {
        const double mean = std::accumulate(e.begin(), e.end(), 0.0) / e.size();
        for (double& v : e)
            v -= mean;
    };
    centre(a);
    centre(b);
    const int lags = maxLag / 4;
    std::vector<double> r(lags + 1, 0.0);
    for (int L = 0; L <= lags; ++L)
    {
        double s = 0.0;
        for (size_t i = 0; i + L < b.size() && i < a.size(); ++i)
            s += a[i] * b[i + L];
        r[L] = s;
    }
    const int best = static_cast<int>(std::max_element(r.begin(), r.end()) - r.begin());
    double shift = 0.0;
    if (best > 0 && best < lags)
    {
        const double c = r[best - 1] - 2 * r[best] + r[best + 1];
        if (c < 0) shift = 0.5 * (r[best - 1] - r[best + 1]) / c;
    }
    return 4.0 * (best + shift);
}

// The median over the bursts of the time the output's envelope first reaches half its peak after
// the time the input's does (each burst's output looked for around guess samples later).
double onsetDelay(const Signal& in, const Signal& out, double guess)
{
    const auto a = envelope(in), b = envelope(out);
    auto halfPeakTime = [](const std::vector<double>& e, long from, long to)
    {
        from = std::max(0L, from / 4);
        to = std::min(static_cast<long>(e.size()), to / 4);
        double peak = 0.0;
        for (long i = from; i < to; ++i)
            peak = std::max(peak, e[i]);
        for (long i = std::max(from, 1L); i < to; ++i)
            if (e[i] >= 0.5 * peak)
                return 4.0 * (i - 1 + (0.5 * peak - e[i - 1]) / (e[i] - e[i - 1]));
        return std::nan("");
    };
    std::vector<double> d;
    for (int i = 0; i < kBursts; ++i)
    {
        const long start = static_cast<long>((0.3 + 0.65 * i) * kRate);
        const double tin = halfPeakTime(a, start - 2000, start + 13000);
        const long g = std::lround(guess);
        const double tout = halfPeakTime(b, start + g - 6000, start + g + 15000);
        if (!std::isnan(tin) && !std::isnan(tout)) d.push_back(tout - tin);
    }
    return median(d);
}

// f0 every 5 ms by normalised autocorrelation (tests/measure.h) over 1400-sample windows,
// 70..1100 Hz; 0 for frames that are not voiced: below -35 dB of the loudest frame, or whose
// highest autocorrelation peak is below 0.7. Frame i is centred at sample i * 220.5.
std::vector<double> f0Track(const Signal& x)
{
    constexpr int kHalf = 700;
    constexpr int minLag = kRate / 1100, maxLag = kRate / 70 + 1;
    const size_t frames =
        x.size() > 2 * kHalf ? static_cast<size_t>((x.size() - 2 * kHalf) / 220.5) : 0;
    std::vector<double> rms(frames, 0.0), hz(frames, 0.0);
    double loudest = 0.0;
    for (size_t i = 0; i < frames; ++i)
    {
        const size_t from = static_cast<size_t>(i * 220.5);
        double s = 0.0;
        for (size_t k = from; k < from + 2 * kHalf; ++k)
            s += static_cast<double>(x[k]) * x[k];
        rms[i] = std::sqrt(s / (2 * kHalf));
        loudest = std::max(loudest, rms[i]);
    }
    for (size_t i = 0; i < frames; ++i)
    {
        if (rms[i] < loudest * 0.0178) continue; // -35 dB
        const size_t from = static_cast<size_t>(i * 220.5);
        const auto r =
            measure::normalisedAutocorrelation(x, from, from + 2 * kHalf, minLag, maxLag);
        double best = 0.0;
        for (size_t j = 1; j + 1 < r.size(); ++j)
            best = std::max(best, r[j]);
        if (best < 0.7) continue;
        for (size_t j = 1; j + 1 < r.size(); ++j)
            if (r[j] > r[j - 1] && r[j] >= r[j + 1] && r[j] >= 0.85 * best)
            {
                const double c = r[j - 1] - 2.0 * r[j] + r[j + 1];
                const double shift = c < 0.0 ? 0.5 * (r[j - 1] - r[j + 1]) / c : 0.0;
                hz[i] = static_cast<double>(kRate) / (minLag + static_cast<double>(j) + shift);
                break;
            }
    }
    return hz;
}

double median(std::vector<double> v)
{
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(std::ceil(p * v.size())) - 1);
    return v[k];
}

struct Correction
{
    double medianCents = NAN;
    double within20 = NAN; // fraction
    size_t voiced = 0, frames = 0;
};

// Distance in cents of each voiced frame from the nearest equal-tempered semitone (A = 440).
Correction chromaticError(const Signal& y)
{
    const auto hz = f0Track(y);
    std::vector<double> d;
    for (double f : hz)
        if (f > 0)
        {
            const double c = 1200.0 * std::log2(f / 440.0);
            d.push_back(std::fabs(c - 100.0 * std::round(c / 100.0)));
        }
    Correction r;
    r.frames = hz.size();
    r.voiced = d.size();
    if (d.empty()) return r;
    r.medianCents = median(d);
    r.within20 =
        static_cast<double>(std::count_if(d.begin(), d.end(), [](double v) { return v <= 20.0; })) /
        d.size();
    return r;
}

struct Clicks
{
    double samples = 0, events = 0, seconds = 0;
};

// Second-difference spikes: output samples whose |y[n+1] - 2 y[n] + y[n-1]| exceeds 6 times the
// largest such value of the input over the same stretch (2048-sample stretches, the input taken
// delay samples earlier and 512 samples wider on each side; floor 0.002, so that silence in
// needs a spike above 0.012 out). An event is a run of such samples less than 32 apart.
void countClicks(const Signal& x, const Signal& y, long delay, Clicks& c)
{
    auto d2 = [](const Signal& s, long n) { // s taken as silence outside its length
        const long size = static_cast<long>(s.size());
        auto at = [&](long k) { return k >= 0 && k < size ? static_cast<double>(s[k]) : 0.0; };
        return std::fabs(at(n + 1) - 2.0 * at(n) + at(n - 1));
    };
    long lastSpike = -1000;
    for (long start = 0; start < static_cast<long>(y.size()); start += 2048)
    {
        const long end = std::min<long>(start + 2048, y.size());
        double inMax = 0.002;
        for (long n = start - delay - 512; n < end - delay + 512; ++n)
            inMax = std::max(inMax, d2(x, n));
        for (long n = start; n < end; ++n)
            if (d2(y, n) > 6.0 * inMax)
            {
                c.samples += 1;
                if (n - lastSpike >= 32) c.events += 1;
                lastSpike = n;
            }
    }
    c.seconds += static_cast<double>(y.size()) / kRate;
}

// ---------------------------------------------------------------------------------------------
// Engines

enum class Task
{
    Chromatic, // Scale on, all twelve notes
    Shift,     // Scale off, Pitch up by shiftCents()
};

class Stream
{
public:
    virtual ~Stream() = default;
    virtual void process(const float* in, float* out, int n) = 0;
};

class Engine
{
public:
    explicit Engine(std::string n) : name(std::move(n)) {}
    virtual ~Engine() = default;
    std::string name;
    std::string unavailable; // why it could not be run, when it could not
    virtual double shiftCents() const { return 300.0; }
    virtual bool inProcess() const { return true; }
    virtual double reportedDelay() const = 0; // samples at 44.1 kHz; NAN when none is known
    virtual std::unique_ptr<Stream> open(Task) { return nullptr; }

    // The output for in (followed by kTail samples of silence), through 512-sample calls.
    virtual Signal render(const Signal& in, Task task)
    {
        Signal x = in;
        x.insert(x.end(), kTail, 0.0f);
        Signal y(x.size());
        auto s = open(task);
        for (size_t k = 0; k < x.size(); k += 512)
            s->process(x.data() + k, y.data() + k,
                       static_cast<int>(std::min<size_t>(512, x.size() - k)));
        return y;
    }
};

class LiveEngine : public Engine
{
public:
    LiveEngine(std::string n, float retune) : Engine(std::move(n)), retune_(retune) {}
    double reportedDelay() const override { return LiveVoice::latencyForRate(kRate); }
    std::unique_ptr<Stream> open(Task task) override
    {
        struct S : Stream
        {
            LiveVoice voice{kRate};
            LiveControls controls;
            void process(const float* in, float* out, int n) override
            {
                voice.process(in, out, n, controls);
            }
        };
        auto s = std::make_unique<S>();
        s->controls.retuneMs = retune_;
        s->controls.state.scaleOn = task == Task::Chromatic ? 1 : 0;
        s->controls.state.pitchCents = task == Task::Chromatic ? 0.0f : 300.0f;
        return s;
    }

private:
    float retune_;
};

// A VST 2.x library loaded as a host loads it: Halvern's parameters (0 Pitch, 1 Formant, 2 Scale,
// 3..14 notes C..B), and for Halvern Live's door the Retune time as parameter 15 (0..400 ms).
class VstEngine : public Engine
{
public:
    VstEngine(std::string n, std::string library, int retuneParameter, float retuneMs)
        : Engine(std::move(n)), library_(std::move(library)), retuneParameter_(retuneParameter),
          retuneMs_(retuneMs)
    {
        try
        {
            PluginHost host(library_);
            host.setSampleRate(kRate);
            host.resume();
            reported_ = host.effect()->initialDelay;
        }
        catch (const std::exception& e)
        {
            unavailable = e.what();
        }
    }
    double reportedDelay() const override { return reported_; }
    std::unique_ptr<Stream> open(Task task) override
    {
        struct S : Stream
        {
            explicit S(const std::string& lib) : host(lib) {}
            PluginHost host;
            void process(const float* in, float* out, int n) override { host.process(in, out, n); }
        };
        auto s = std::make_unique<S>(library_);
        s->host.setSampleRate(kRate);
        const bool chromatic = task == Task::Chromatic;
        s->host.setParameter(0, chromatic ? 0.5f : 0.5f + 300.0f / 2400.0f);
        s->host.setParameter(1, 0.5f);
        s->host.setParameter(2, chromatic ? 1.0f : 0.0f);
        for (int p = 3; p <= 14; ++p)
            s->host.setParameter(p, 1.0f);
        if (retuneParameter_ >= 0) s->host.setParameter(retuneParameter_, retuneMs_ / 400.0f);
        s->host.resume();
        return s;
    }

private:
    std::string library_;
    int retuneParameter_;
    float retuneMs_;
    double reported_ = NAN;
};

// CPU seconds (user + system) of one command, run without a shell; -1 when it failed.
double childCpuSeconds(const std::vector<std::string>& argv)
{
    const pid_t pid = fork();
    if (pid == 0)
    {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (pid < 0) return -1.0;
    int status = 0;
    struct rusage usage
    {
    };
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1.0;
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec * 1e-6;
}

std::string runAndRead(const std::string& command)
{
    std::string text;
    if (FILE* p = popen(command.c_str(), "r"))
    {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            text.append(buf, n);
        pclose(p);
    }
    return text;
}

// x42-Autotune through lv2file on WAV files: Auto mode (chromatic: all twelve notes on),
// Correction 1, the fastest Filter (0.02, "Fast"), Fast Correction on, Tuning 440, Offset 0,
// Bias at its default, 512-frame blocks.
class X42Engine : public Engine
{
public:
    static constexpr const char* kUri = "http://gareus.org/oss/lv2/fat1";
    explicit X42Engine(std::string tmp) : Engine("x42 autotuner"), tmp_(std::move(tmp))
    {
        const std::string info = runAndRead(std::string("lv2info ") + kUri + " 2>&1");
        if (info.find("x42-Autotune") == std::string::npos)
        {
            unavailable = std::string("lv2info does not know ") + kUri +
                          " (install Debian's x42-plugins and lilv-utils)";
            return;
        }
        if (runAndRead("command -v lv2file").empty())
        {
            unavailable = "lv2file is not installed (Debian's lv2file)";
            return;
        }
        const size_t at = info.find("Has latency:");
        if (at != std::string::npos) lv2infoLatency_ = info.substr(at, info.find('\n', at) - at);
        reported_ = latencyPortValue();
    }
    // Its Offset port transposes by semitones (+1 turns 220 Hz into 233 Hz, +2 into 247 Hz) but
    // spans only -2..+2: the shift is measured at +2 with Correction 0.
    double shiftCents() const override { return 200.0; }
    bool inProcess() const override { return false; }
    double reportedDelay() const override { return reported_; }
    std::string lv2infoLatency_;

    static std::vector<std::string> settings(Task task = Task::Chromatic)
    {
        if (task == Task::Shift) return {"mode:0", "tuning:440", "corr:0", "offset:2"};
        std::vector<std::string> p = {"mode:0",      "tuning:440", "corr:1",
                                      "filter:0.02", "fastmode:1", "offset:0"};
        for (int k = 0; k < 12; ++k)
            p.push_back((k < 10 ? "m0" : "m") + std::to_string(k) + ":1");
        return p;
    }

    std::vector<std::string> command(const std::string& in, const std::string& out,
                                     const char* uri = kUri, bool withSettings = true,
                                     Task task = Task::Chromatic) const
    {
        std::vector<std::string> argv = {"lv2file", "-b", "512", "-i", in, "-o", out};
        if (withSettings)
            for (const auto& s : settings(task))
            {
                argv.push_back("-p");
                argv.push_back(s);
            }
        argv.push_back(uri);
        return argv;
    }

    Signal render(const Signal& in, Task task) override
    {
        Signal x = in;
        x.insert(x.end(), kTail, 0.0f);
        const std::string a = tmp_ + "/x42_in.wav", b = tmp_ + "/x42_out.wav";
        writeSoundFile(a, x);
        Signal y;
        int rate = 0, channels = 0;
        if (childCpuSeconds(command(a, b, kUri, true, task)) < 0 ||
            !readSoundFile(b, y, rate, channels))
            return Signal(x.size(), 0.0f);
        y.resize(x.size(), 0.0f);
        return y;
    }

private:
    // The value the plug-in writes to its latency port, read in a minimal lilv host (one run of
    // 512 frames with the settings above); NAN when that fails.
    static double latencyPortValue();
    std::string tmp_;
    double reported_ = NAN;
};

std::vector<std::string>* uridTable()
{
    static std::vector<std::string> table;
    return &table;
}

uint32_t mapUri(void*, const char* uri)
{
    auto& t = *uridTable();
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i] == uri) return static_cast<uint32_t>(i + 1);
    t.push_back(uri);
    return static_cast<uint32_t>(t.size());
}

double X42Engine::latencyPortValue()
{
    struct UridMap
    {
        void* handle;
        uint32_t (*map)(void*, const char*);
    } map{nullptr, mapUri};
    LV2_Feature mapFeature{"http://lv2plug.in/ns/ext/urid#map", &map};
    const LV2_Feature* features[] = {&mapFeature, nullptr};

    double value = NAN;
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* uri = lilv_new_uri(world, kUri);
    LilvNode* audio = lilv_new_uri(world, "http://lv2plug.in/ns/lv2core#AudioPort");
    LilvNode* control = lilv_new_uri(world, "http://lv2plug.in/ns/lv2core#ControlPort");
    LilvNode* atom = lilv_new_uri(world, "http://lv2plug.in/ns/ext/atom#AtomPort");
    LilvNode* input = lilv_new_uri(world, "http://lv2plug.in/ns/lv2core#InputPort");
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    if (plugin)
    {
        const uint32_t ports = lilv_plugin_get_num_ports(plugin);
        std::vector<float> mins(ports), maxs(ports), defaults(ports), values(ports, 0.0f);
        lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
        for (uint32_t i = 0; i < ports; ++i)
            values[i] = std::isnan(defaults[i]) ? 0.0f : defaults[i];
        for (const auto& s : settings())
        {
            const size_t colon = s.find(':');
            LilvNode* symbol = lilv_new_string(world, s.substr(0, colon).c_str());
            if (const LilvPort* p = lilv_plugin_get_port_by_symbol(plugin, symbol))
                values[lilv_port_get_index(plugin, p)] = std::stof(s.substr(colon + 1));
            lilv_node_free(symbol);
        }
        const uint32_t latencyPort = lilv_plugin_get_latency_port_index(plugin);
        if (LilvInstance* instance = lilv_plugin_instantiate(plugin, kRate, features))
        {
            std::vector<float> in(512), out(512);
            for (size_t k = 0; k < in.size(); ++k)
                in[k] = static_cast<float>(0.3 * std::sin(2.0 * measure::kPi * 220.0 * k / kRate));
            alignas(16) uint32_t sequence[256] = {};
            sequence[0] = 8; // an empty sequence: body (unit, pad) only
            sequence[1] = mapUri(nullptr, "http://lv2plug.in/ns/ext/atom#Sequence");
            bool audioInDone = false;
            for (uint32_t i = 0; i < ports; ++i)
            {
                const LilvPort* p = lilv_plugin_get_port_by_index(plugin, i);
                if (lilv_port_is_a(plugin, p, audio))
                {
                    const bool isIn = lilv_port_is_a(plugin, p, input);
                    lilv_instance_connect_port(instance, i,
                                               isIn && !audioInDone ? in.data() : out.data());
                    audioInDone = audioInDone || isIn;
                }
                else if (lilv_port_is_a(plugin, p, control))
                    lilv_instance_connect_port(instance, i, &values[i]);
                else if (lilv_port_is_a(plugin, p, atom))
                    lilv_instance_connect_port(instance, i, sequence);
            }
            lilv_instance_activate(instance);
            lilv_instance_run(instance, 512);
            lilv_instance_run(instance, 512);
            if (latencyPort < ports) value = values[latencyPort];
            lilv_instance_deactivate(instance);
            lilv_instance_free(instance);
        }
    }
    for (LilvNode* n : {uri, audio, control, atom, input})
        lilv_node_free(n);
    lilv_world_free(world);
    return value;
}

// ---------------------------------------------------------------------------------------------
// Timing

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

Signal loopTo(const Signal& x, size_t length)
{
    Signal out(length);
    for (size_t k = 0; k < length; ++k)
        out[k] = x[k % x.size()];
    return out;
}

// CPU seconds per second of voice, through 512-sample calls (best of three runs).
double cpuPerSecond(Engine& e, const Signal& voice)
{
    double best = 1e300;
    Signal y(voice.size());
    for (int run = 0; run < 3; ++run)
    {
        auto s = e.open(Task::Chromatic);
        const double t0 = processCpuSeconds();
        for (size_t k = 0; k < voice.size(); k += 512)
            s->process(voice.data() + k, y.data() + k,
                       static_cast<int>(std::min<size_t>(512, voice.size() - k)));
        best = std::min(best, processCpuSeconds() - t0);
    }
    return best / (static_cast<double>(voice.size()) / kRate);
}

struct CallTimes
{
    double median = NAN, p999 = NAN, max = NAN;
    size_t calls = 0;
};

double threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

// Nanoseconds of each 64-sample call, after 3 s of warm-up calls: wall-clock time, or with
// threadCpu the calling thread's CPU time (time spent preempted left out; each reading is a
// system call of its own, which the figures include).
CallTimes callTimesOnce(Engine& e, const Signal& voice, bool threadCpu = false)
{
    auto s = e.open(Task::Chromatic);
    Signal y(64);
    const size_t warm = 3 * kRate;
    for (size_t k = 0; k + 64 <= warm; k += 64)
        s->process(voice.data() + k, y.data(), 64);
    std::vector<double> ns;
    ns.reserve(voice.size() / 64);
    for (size_t k = warm; k + 64 <= voice.size(); k += 64)
    {
        if (threadCpu)
        {
            const double c0 = threadCpuNs();
            s->process(voice.data() + k, y.data(), 64);
            ns.push_back(threadCpuNs() - c0);
            continue;
        }
        const auto t0 = std::chrono::steady_clock::now();
        s->process(voice.data() + k, y.data(), 64);
        const auto t1 = std::chrono::steady_clock::now();
        ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    CallTimes r;
    r.calls = ns.size();
    r.median = median(ns);
    r.p999 = percentile(ns, 0.999);
    r.max = *std::max_element(ns.begin(), ns.end());
    return r;
}

// Three runs over the same voice, the one with the smallest worst call kept: a spike the engine
// causes comes back in every run, one the machine's other work causes seldom does.
CallTimes callTimes(Engine& e, const Signal& voice)
{
    CallTimes best;
    for (int run = 0; run < 3; ++run)
    {
        const auto t = callTimesOnce(e, voice);
        if (run == 0 || t.max < best.max) best = t;
    }
    return best;
}

// ---------------------------------------------------------------------------------------------
// Table

std::string fmt(const char* f, double v)
{
    if (std::isnan(v)) return "n/a";
    char buf[512];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

struct Column
{
    std::map<std::string, std::string> cells;
};

} // namespace

int main()
{
    const auto wallStart = std::chrono::steady_clock::now();
    char tmpTemplate[] = "/tmp/live_bench.XXXXXX";
    const std::string tmp = mkdtemp(tmpTemplate);
    const std::string cache = tmp + "/cache";
    std::system(("mkdir -p " + quote(cache)).c_str());
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1); // Halvern's session dumps, kept private

    std::vector<std::string> notes;
    std::string recordingFolder = HALVERN_BENCH_RECORDINGS;
    if (const char* r = std::getenv("HALVERN_BENCH_RECORDINGS")) recordingFolder = r;
    const auto recordings = loadRecordings(recordingFolder, tmp, notes);

    // The engines, one column each after the input's own.
    std::vector<std::unique_ptr<Engine>> engines;
    engines.push_back(std::make_unique<LiveEngine>("Halvern Live (Retune 0)", 0.0f));
    engines.push_back(std::make_unique<LiveEngine>("Halvern Live (Retune 50 ms)", 50.0f));
    if (const char* live = std::getenv("HALVERN_LIVE_PLUGIN"))
        engines.push_back(std::make_unique<VstEngine>("HalvernLive.so (Retune 0)", live, 15, 0.0f));
    engines.push_back(std::make_unique<VstEngine>("Halvern", HALVERN_PLUGIN_PATH, -1, 0.0f));
    auto x42owned = std::make_unique<X42Engine>(tmp);
    X42Engine* x42 = x42owned.get();
    engines.push_back(std::move(x42owned));

    const Signal burst = bursts(), held = heldNotesOff(), melody = melodies();
    Signal shiftVowel = measure::vowel(140.0, kVowels[0], kRate, 4 * kRate, 0.06);
    const auto fades = levelContour(shiftVowel.size(), 0.02);
    for (size_t k = 0; k < shiftVowel.size(); ++k)
        shiftVowel[k] *= static_cast<float>(fades[k]);
    struct Take
    {
        std::string key, label;
        Signal x;
    };
    std::vector<Take> takes = {{"held", "generated notes 10–45 ¢ off", held},
                               {"melody", "generated melodies (vibrato ±20 ¢, glides)", melody}};
    for (const auto& r : recordings)
        takes.push_back(
            {"rec:" + r.name, "real: " + r.name.substr(r.name.rfind('/') + 1), r.samples});
    Signal allVoice;
    for (const auto& t : takes)
        append(allVoice, t.x);
    const Signal minute = loopTo(allVoice, 60 * static_cast<size_t>(kRate));

    std::vector<Column> columns(engines.size() + 1);
    Column& inputColumn = columns[0];
    for (const auto& t : takes)
    {
        Signal padded = t.x;
        padded.insert(padded.end(), kTail, 0.0f); // as long as the outputs
        const auto c = chromaticError(padded);
        inputColumn.cells[t.key + ":median"] = fmt("%.1f", c.medianCents);
        inputColumn.cells[t.key + ":within"] = fmt("%.0f %%", 100.0 * c.within20);
        inputColumn.cells[t.key + ":voiced"] =
            std::to_string(c.voiced) + " / " + std::to_string(c.frames);
    }

    for (size_t e = 0; e < engines.size(); ++e)
    {
        Engine& engine = *engines[e];
        Column& col = columns[e + 1];
        std::fprintf(stderr, "measuring %s\n", engine.name.c_str());
        if (!engine.unavailable.empty())
        {
            notes.push_back(engine.name + " could not be run: " + engine.unavailable);
            continue;
        }
        // 1. Delay
        const Signal burstOut = engine.render(burst, Task::Chromatic);
        const double delay = measuredDelay(burst, burstOut);
        const long d = std::lround(delay);
        col.cells["reported"] = fmt("%.0f", engine.reportedDelay()) +
                                (std::isnan(engine.reportedDelay())
                                     ? ""
                                     : fmt(" (%.1f ms)", 1000.0 * engine.reportedDelay() / kRate));
        col.cells["measured"] = fmt("%.0f", delay) + fmt(" (%.1f ms)", 1000.0 * delay / kRate);
        const double onset = onsetDelay(burst, burstOut, delay);
        col.cells["onset"] = fmt("%.0f", onset) + fmt(" (%.1f ms)", 1000.0 * onset / kRate);

        // 2. Chromatic correction
        Clicks clicks;
        for (const auto& t : takes)
        {
            const Signal y = engine.render(t.x, Task::Chromatic);
            const auto c = chromaticError(y);
            col.cells[t.key + ":median"] = fmt("%.1f", c.medianCents);
            col.cells[t.key + ":within"] = fmt("%.0f %%", 100.0 * c.within20);
            col.cells[t.key + ":voiced"] =
                std::to_string(c.voiced) + " / " + std::to_string(c.frames);
            countClicks(t.x, y, d, clicks);
        }

        // 3. +3 semitones, Scale off (x42: +2, all it offers)
        {
            const double target = engine.shiftCents();
            const std::string prefix = target == 300.0 ? "" : fmt("at %+.0f ¢: ", target);
            std::vector<double> errors;
            std::vector<Signal> shiftInputs = {shiftVowel, held};
            for (const auto& r : recordings)
                shiftInputs.push_back(r.samples);
            for (size_t i = 0; i < shiftInputs.size(); ++i)
            {
                const Signal& x = shiftInputs[i];
                const Signal y = engine.render(x, Task::Shift);
                countClicks(x, y, d, clicks);
                const auto fin = f0Track(x), fout = f0Track(y);
                const long frameDelay = std::lround(delay / 220.5);
                for (size_t k = 0; k < fin.size(); ++k)
                {
                    const size_t j = k + frameDelay;
                    if (fin[k] > 0 && j < fout.size() && fout[j] > 0)
                    {
                        double err = measure::cents(fout[j], fin[k]) - target;
                        err -= 1200.0 * std::round(err / 1200.0); // an octave slip of the tracker
                        errors.push_back(err);
                    }
                }
                if (i == 0)
                {
                    const int size = 1024;
                    const double lift = 0.0025;
                    const size_t end = x.size() - 2000;
                    const auto a = measure::smoothedLogSpectrum(x, 13000, end, kRate, size, lift);
                    const auto b =
                        measure::smoothedLogSpectrum(y, 13000 + d, end + d, kRate, size, lift);
                    const double scale = measure::envelopeScale(a, b, kRate, size);
                    col.cells["envelope"] = prefix +
                                            fmt("%.1f %%", 100.0 * std::fabs(scale - 1.0)) +
                                            fmt(" (×%.3f)", scale);
                }
            }
            std::vector<double> absErrors;
            for (double v : errors)
                absErrors.push_back(std::fabs(v));
            col.cells["shift"] =
                prefix + fmt("%.1f", median(absErrors)) + fmt(" (%+.1f)", median(errors));
            col.cells["shiftWithin"] =
                prefix + fmt("%.0f %%", 100.0 *
                                            std::count_if(absErrors.begin(), absErrors.end(),
                                                          [](double v) { return v <= 20.0; }) /
                                            std::max<size_t>(1, absErrors.size()));
        }
        col.cells["clicks"] = fmt("%.1f", clicks.samples * 60.0 / clicks.seconds) +
                              fmt(" (%.1f events)", clicks.events * 60.0 / clicks.seconds);

        // 5. CPU, 6. call times
        if (engine.inProcess())
        {
            col.cells["cpu"] = fmt("%.4f", cpuPerSecond(engine, minute));
            const auto t = callTimes(engine, minute);
            col.cells["callMedian"] = fmt("%.0f", t.median);
            col.cells["callP999"] = fmt("%.0f", t.p999);
            col.cells["callMax"] = fmt("%.0f", t.max);
            col.cells["ratioMax"] = fmt("%.1f", t.max / t.median);
            col.cells["ratioP999"] = fmt("%.1f", t.p999 / t.median);
            col.cells["calls"] = std::to_string(t.calls);
            const auto c = callTimesOnce(engine, minute, true);
            col.cells["cpuCall"] = fmt("%.0f", c.median) + fmt(" / %.0f", c.p999) +
                                   fmt(" / %.0f", c.max) +
                                   fmt(" (max/median %.1f)", c.max / c.median);
        }
        else
        {
            const std::string a = tmp + "/minute.wav", b = tmp + "/minute_out.wav";
            writeSoundFile(a, minute);
            double plugin = 1e300, baseline = 1e300;
            for (int run = 0; run < 3; ++run)
            {
                const double p = childCpuSeconds(x42->command(a, b));
                const double q =
                    childCpuSeconds(x42->command(a, b, "http://gareus.org/oss/lv2/nodelay", false));
                if (p >= 0) plugin = std::min(plugin, p);
                if (q >= 0) baseline = std::min(baseline, q);
            }
            if (plugin < 1e300 && baseline < 1e300)
            {
                col.cells["cpu"] = fmt("%.4f", (plugin - baseline) / 60.0);
                notes.push_back(
                    fmt("x42 CPU: lv2file with x42 on 60 s of voice %.3f s CPU, ", plugin) +
                    fmt("with x42's nodelay (delay 0) as passthrough baseline %.3f s (best of 3 "
                        "each).",
                        baseline));
            }
            for (const char* k :
                 {"callMedian", "callP999", "callMax", "ratioMax", "ratioP999", "calls", "cpuCall"})
                col.cells[k] = "n/a (run through lv2file)";
        }
    }

    // Halvern's LV2 bundle through lv2file, as a check on the lv2file CPU method.
    const std::string bundle = std::string(HALVERN_BENCH_LV2_DIR) + "/Halvern.lv2";
    if (access((bundle + "/halvern.so").c_str(), R_OK) != 0)
        notes.push_back("Halvern's LV2 bundle is not built (target halvern_lv2): no lv2file check "
                        "of the CPU method.");
    else if (x42->unavailable.empty())
    {
        const std::string a = tmp + "/minute.wav", b = tmp + "/minute_out.wav";
        ::setenv("LV2_PATH", (std::string(HALVERN_BENCH_LV2_DIR) + ":/usr/lib/lv2").c_str(), 1);
        double plugin = 1e300, baseline = 1e300;
        for (int run = 0; run < 3; ++run)
        {
            const double p = childCpuSeconds(
                {"lv2file", "-b", "512", "-i", a, "-o", b, "-p", "scale:1", "urn:brakk:halvern"});
            const double q =
                childCpuSeconds(x42->command(a, b, "http://gareus.org/oss/lv2/nodelay", false));
            if (p >= 0) plugin = std::min(plugin, p);
            if (q >= 0) baseline = std::min(baseline, q);
        }
        if (plugin < 1e300 && baseline < 1e300)
            notes.push_back(fmt("Check of the lv2file method: Halvern's LV2 bundle through lv2file "
                                "the same way, %.4f s CPU per s of voice.",
                                (plugin - baseline) / 60.0));
        else
            notes.push_back(
                "Check of the lv2file method: Halvern's LV2 bundle did not run through lv2file.");
    }

    // ---- print
    std::printf("## Halvern Live against Halvern and the x42 autotuner (44.1 kHz, mono)\n\n");
    std::printf("| measure | input |");
    for (const auto& e : engines)
        std::printf(" %s |", e->name.c_str());
    std::printf("\n|---|---|");
    for (size_t e = 0; e < engines.size(); ++e)
        std::printf("---|");
    std::printf("\n");
    auto row = [&](const std::string& label, const std::string& key)
    {
        std::printf("| %s |", label.c_str());
        for (const auto& c : columns)
        {
            const auto it = c.cells.find(key);
            std::printf(" %s |", it == c.cells.end() ? "" : it->second.c_str());
        }
        std::printf("\n");
    };
    row("1. reported delay, samples (ms)", "reported");
    row("1. measured delay, envelope cross-correlation, samples (ms)", "measured");
    row("1. measured delay, half-peak onsets (median of 8 bursts), samples (ms)", "onset");
    for (const auto& t : takes)
    {
        row("2. " + t.label + ": median ¢ from nearest semitone", t.key + ":median");
        row("2. " + t.label + ": voiced frames within 20 ¢", t.key + ":within");
        row("2. " + t.label + ": voiced frames / frames", t.key + ":voiced");
    }
    row("3. +3 st, Scale off: median \\|f0 out − (f0 in + 300 ¢)\\| ¢ (signed median)", "shift");
    row("3. +3 st, Scale off: voiced frames within 20 ¢ of in + 300 ¢", "shiftWithin");
    row("3. +3 st, Scale off: envelope moved, \\|scale − 1\\| (scale)", "envelope");
    row("4. clicks: second-difference spikes per minute of output", "clicks");
    row("5. CPU s per s of voice (512-sample calls)", "cpu");
    row("6. 64-sample call, median ns", "callMedian");
    row("6. 64-sample call, 99.9th percentile ns", "callP999");
    row("6. 64-sample call, max ns", "callMax");
    row("6. max / median", "ratioMax");
    row("6. p99.9 / median", "ratioP999");
    row("6. calls timed (per run)", "calls");
    row("6. same calls by thread CPU time, ns: median / p99.9 / max", "cpuCall");

    std::printf("\nMeasures:\n");
    std::printf(
        "- 1. Reported: Live's latencyForRate(44100); Halvern's initialDelay from its VST record; "
        "x42's latency output port (lv2info: \"%s\"), read after two 512-frame runs in a minimal "
        "lilv host. "
        "Measured: the lag of the best cross-correlation of RMS envelopes (64-sample windows every "
        "4 samples) of 8 sung vowel bursts "
        "(250 ms, 10 ms fades, 400 ms apart, notes in tune), input against output, chromatic "
        "settings; and the median over the "
        "bursts of the time the output's envelope first reaches half its peak after the input's "
        "does.\n",
        x42->lv2infoLatency_.empty() ? "n/a" : x42->lv2infoLatency_.c_str());
    std::printf("- 2. Chromatic correction (Scale on, all 12 notes; Halvern Pitch 0, Formant 0). "
                "The output's f0 by normalised "
                "autocorrelation (tests/measure.h) every 5 ms over 1400-sample windows, 70–1100 "
                "Hz; a frame is voiced when it is within "
                "35 dB of the loudest frame and its highest autocorrelation peak reaches 0.7. All "
                "voiced frames count, note onsets, "
                "glides and ends included. ¢ = distance from the nearest equal-tempered semitone "
                "(A = 440 Hz). The input column is the "
                "uncorrected input measured the same way.\n");
    std::printf("- 2. Inputs: held notes: 8 vowels (a e i o u in turn, 3 formants each) of 0.9 s "
                "on A2 D3 G3 A3 C4 E4 G4 A4, "
                "sung +10 −20 +30 −45 +40 −15 +25 −35 ¢ off with 5 ¢ vibrato, 0.15 s apart. "
                "Melodies: C3 D3 E3 F3 G3 F3 E3 D3 C3 "
                "(0.5 s each, vowel a) and E4 G4 A4 C5 B4 A4 G4 E4 (0.55 s each, vowel e), notes "
                "6–22 ¢ off, 70 ms glides between "
                "notes, 20 ¢ vibrato at 5.5 Hz fading in after 150 ms.\n");
    if (recordings.empty()) std::printf("- 2. Real recordings: none found (see notes).\n");
    for (const auto& r : recordings)
        std::printf("- 2. Real recording: %s — %s, %.1f s, mixed to mono and resampled to 44.1 kHz "
                    "by sox.\n",
                    r.name.c_str(), r.origin.c_str(),
                    static_cast<double>(r.samples.size()) / kRate);
    std::printf("- 3. +3 semitones with Scale off (Live pitchCents 300; Halvern Pitch = 0.5 + "
                "300/2400). f0 as in 2. on: a vowel a "
                "at 140 Hz with 6 %% vibrato (4 s, 20 ms fades), the held notes, and the real "
                "recordings; per frame where input and output are "
                "both voiced, output f0 against input f0 (taken the measured delay earlier) + 300 "
                "¢, octave slips of the tracker "
                "folded. Envelope: tests/measure.h envelopeScale between the cepstrally smoothed "
                "(2.5 ms) log spectra of the "
                "vibrato vowel in and out (1024-point frames, 250–4000 Hz); 0 %% = formants kept "
                "in place. x42 cannot shift by +3 "
                "semitones: its Offset port transposes by semitones but spans −2..+2, so x42 is "
                "measured at +2 (Correction 0, "
                "Offset 2) against in + 200 ¢.\n");
    std::printf("- 4. Clicks: an output sample counts when |y[n+1] − 2y[n] + y[n−1]| exceeds 6× "
                "the largest second difference "
                "of the input over the same 2048-sample stretch (taken the measured delay earlier, "
                "512 samples wider each side, "
                "floor 0.002; both signals taken as silence outside their length). Over the "
                "outputs of 2. and 3.; events = runs of such samples less than 32 apart.\n");
    std::printf("- 5. CPU: process CPU time (CLOCK_PROCESS_CPUTIME_ID, all threads) around 60 s of "
                "voice (the inputs of 2. "
                "looped) in 512-sample calls, best of 3. x42: CPU time (user + system, wait4) of "
                "lv2file -b 512 on the same "
                "60 s as a WAV file, minus lv2file with a passthrough plug-in (x42's nodelay at "
                "delay 0), best of 3 each.\n");
    std::printf("- 6. Wall-clock time of each 64-sample call (steady_clock) over the same 60 s "
                "after 3 s of warm-up calls, "
                "chromatic settings, a fresh instance per run; of 3 runs the one with the smallest "
                "max is shown "
                "(the machine is shared, load average %.1f at the end of this run, and preemption "
                "lands in the tail). "
                "The last row times one more run by the thread's CPU time "
                "(CLOCK_THREAD_CPUTIME_ID), which leaves out time "
                "spent preempted but adds a system call's cost to each figure.\n",
                []
                {
                    double load[1] = {NAN};
                    getloadavg(load, 1);
                    return load[0];
                }());
    std::printf(
        "- x42 settings (lv2file -p): %s; Bias (bias) left at its default 0.5, Filter Channel and "
        "Pitch Bend Range "
        "unused (no MIDI). URI %s (x42-Autotune; `lv2ls | grep -i tune` finds nothing: its URI is "
        "fat1).\n",
        []
        {
            std::string s;
            for (const auto& p : X42Engine::settings())
                s += (s.empty() ? "" : " ") + p;
            return s;
        }()
            .c_str(),
        X42Engine::kUri);
    for (const auto& n : notes)
        std::printf("- Note: %s\n", n.c_str());
    std::printf(
        "- Run took %.0f s of wall-clock time.\n",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count());
    std::system(("rm -rf " + quote(tmp)).c_str());
    return 0;
}
