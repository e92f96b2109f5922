#include "livevoice.h"

#include "notechooser.h"
#include "pitchtracker.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxGrains = 48;
constexpr int kMarkSlots = 256;        // a power of two
constexpr int kWindowTableSize = 1024; // Hann half-window points
constexpr int kRefineReach = 2;        // samples either side of the reduced rate's period
constexpr int kNoteSlots = 64;         // sung-note events waiting to be taken, a power of two
// Grains of unvoiced sound: 5 ms apart, two of them long, so that they add up to the input.
constexpr double kUnvoicedSeconds = 0.005;
// The level follower's time constant, and the most it corrects either way (6 dB).
constexpr double kLevelSeconds = 0.04;
constexpr double kLevelRange = 2.0;
constexpr double kSilentPower = 1e-12;
constexpr double kTiny = 1e-30; // below any signal, far above the denormal range

int scaled(int samplesAt44100, int rate)
{
    return std::max(1, static_cast<int>(static_cast<int64_t>(samplesAt44100) * rate / 44100));
}

// The tracker hears the voice at about 11 kHz (every decimation-th sample after a low-pass):
// plenty for fundamentals up to 640 Hz and a small fraction of the work; the period it finds is
// then refined on the input itself.
int decimationFor(int rate)
{
    return std::max(1, rate / 11025);
}

// One section of a Butterworth low-pass (bilinear transform), direct form II transposed.
struct LowPass
{
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, z1 = 0, z2 = 0;

    LowPass() = default;
    LowPass(double cutoff, double rate, double q)
    {
        const double w = 2.0 * kPi * cutoff / rate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        b1 = (1.0 - std::cos(w)) / a0;
        b0 = b2 = 0.5 * b1;
        a1 = -2.0 * std::cos(w) / a0;
        a2 = (1.0 - alpha) / a0;
    }
    double operator()(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        // After the voice stops the state decays towards denormal numbers, which are many
        // times slower to compute with, here and in the transforms of what comes out.
        if (std::fabs(z1) < kTiny) z1 = 0.0;
        if (std::fabs(z2) < kTiny) z2 = 0.0;
        return y;
    }
};

// One grain being added into the output: a Hann-weighted stretch of input around an analysis
// mark, read every `step` input samples per output sample (the formant ratio), centred on a
// synthesis time.
struct Grain
{
    double centre;   // output time, absolute samples
    double mark;     // input time, absolute samples
    double halfSpan; // output samples on each side of the centre
    double step;     // input samples per output sample
    double gain;     // keeps the pulses' mean power where the input's was
    double level;    // the level follower's correction when the grain started (1 when unvoiced)
};
} // namespace

int LiveVoice::latencyForRate(int rate)
{
    return static_cast<int>(static_cast<int64_t>(rate) * 512 / 44100);
}

struct LiveVoice::State
{
    State(int rate);

    // The tracker's two halves, at the start and in the middle of each hop.
    void startAnalysis();
    void analyse(const LiveControls& controls);
    // Starts the grain centred at output time centre; t: the output sample being formed.
    void startGrain(double centre, double t);
    double lastMarkPeriod() const
    {
        return markCount > 0 ? markPeriod[(markCount - 1) & (kMarkSlots - 1)] : 0.0;
    }
    // The output sample now - 1; raw: the same without the level follower's corrections.
    double synthesise(double& raw);
    double levelGain() const;
    double refinePeriod(double coarse) const;
    void placeMarks(double until);
    void noteStep(int64_t time, bool isVoiced, int note, int64_t reached, double level);
    void pushNote(const SungNoteEvent& event);

    int rate, latency, decimation, hop, window;
    PitchTracker tracker; // works on the reduced input, its periods in reduced samples
    NoteChooser chooser;
    // The semitone the voice is on, held with the same hysteresis, for the sung notes while
    // nothing is corrected.
    NoteChooser heard;
    SungNotes sung;
    SungNoteEvent noteEvents[kNoteSlots];
    int64_t notesWritten = 0, notesRead = 0;

    // Ring of recent input, indexed by absolute sample & mask, written twice (at i and at
    // i + mask + 1) so that any stretch of it can be read in one piece.
    std::vector<double> input;
    int64_t mask;
    int64_t now = 0; // absolute index of the next input sample
    std::vector<double> analysisSpan;
    std::vector<double> reduced; // ring of the low-passed input at rate / decimation
    int64_t reducedMask;
    LowPass antiAlias[2];
    std::vector<double> hann; // 0.5 (1 + cos(pi u)) for u in [0, 1]

    // The voice as last analysed.
    bool voiced = false;
    double period = 0.0; // analysis period, samples
    double ratio = 1.0;  // synthesis frequency over analysis frequency
    double formantStep = 1.0;
    double unvoicedPeriod;

    // Analysis marks, one period apart through the input (extrapolated up to a period ahead).
    double markPos[kMarkSlots];
    double markPeriod[kMarkSlots];
    int64_t markCount = 0;

    // Loudness of the delayed input and of the resynthesis (one-pole mean squares): voiced
    // grains are scaled by their ratio, because how much of the voice's energy the pulses keep
    // depends on where its harmonics fall under its formants.
    double levelCoefficient;
    double inputPower = 0.0, outputPower = 0.0;

    double nextCentre; // output time of the next synthesis pulse
    Grain grains[kMaxGrains];
    int grainCount = 0;
};

LiveVoice::State::State(int rate_)
    : rate(rate_), latency(latencyForRate(rate_)), decimation(decimationFor(rate_)),
      hop(decimation * std::max(2, scaled(128, rate_) / decimation)),
      window(scaled(512, rate_) / decimation), tracker(rate_ / decimation, window), sung(rate_)
{
    const int64_t history = 2 * (latency + 4 * tracker.maxPeriod() * decimation) + 8;
    int64_t size = 1;
    while (size < history)
        size *= 2;
    input.assign(2 * size, 0.0);
    mask = size - 1;
    analysisSpan.assign(tracker.span(), 0.0);
    size = 1;
    while (size < tracker.span())
        size *= 2;
    reduced.assign(size, 0.0);
    reducedMask = size - 1;
    // A fourth-order Butterworth low-pass under the reduced rate's Nyquist frequency.
    const double cutoff = std::min(5000.0, 0.4 * rate / decimation);
    if (decimation > 1)
    {
        antiAlias[0] = LowPass(cutoff, rate, 0.5411961);
        antiAlias[1] = LowPass(cutoff, rate, 1.3065630);
    }
    hann.resize(kWindowTableSize + 2);
    for (int k = 0; k <= kWindowTableSize + 1; ++k)
        hann[k] = k >= kWindowTableSize ? 0.0 : 0.5 * (1.0 + std::cos(kPi * k / kWindowTableSize));
    unvoicedPeriod = std::max(2.0, std::round(kUnvoicedSeconds * rate));
    nextCentre = latency;
    levelCoefficient = 1.0 - std::exp(-1.0 / (kLevelSeconds * rate));
}

void LiveVoice::State::startAnalysis()
{
    // Newest sample first: the tracker compares its leading window with what came a period
    // before, so the estimate describes the latest stretch rather than one a window older.
    const int span = tracker.span();
    const int64_t newest = now / decimation - 1;
    for (int k = 0; k < span; ++k)
        analysisSpan[k] = newest - k >= 0 ? reduced[(newest - k) & reducedMask] : 0.0;
    tracker.transform(analysisSpan.data());
}

void LiveVoice::State::analyse(const LiveControls& controls)
{
    const PitchEstimate& estimate = tracker.conclude();
    const double estimatedPeriod =
        estimate.voiced ? refinePeriod(estimate.period * decimation) : estimate.period * decimation;

    ControlState c = controls.state;
    if (controls.heldNotes)
    {
        c.scaleOn = 1;
        for (int k = 0; k < 12; ++k)
            c.noteOn[k] = (controls.heldNotes >> k) & 1;
    }
    voiced = estimate.voiced;
    formantStep = std::clamp(std::exp2(c.formantCents / 1200.0), 0.25, 4.0);
    // The stretch the estimate describes: the leading window and the period before it.
    const int64_t described =
        now - hop / 2 - (window * decimation + static_cast<int64_t>(estimatedPeriod)) / 2;
    if (!voiced)
    {
        chooser.release();
        heard.release();
        noteStep(described, false, 0, described, estimate.level);
        return;
    }
    period = estimatedPeriod;
    const double voiceCents = 1200.0 * std::log2(rate / period / 440.0) + c.pitchCents;
    const double retune = std::isfinite(controls.retuneMs) ? controls.retuneMs : 0.0;
    const double interval = static_cast<double>(hop) / rate;
    const double correction = chooser.step(voiceCents, c, retune, interval);
    if (!chooser.holding())
    {
        ControlState chromatic;
        chromatic.scaleOn = 1;
        heard.step(voiceCents, chromatic, 0.0, interval);
    }
    else
        heard.release();
    const NoteChooser& on = chooser.holding() ? chooser : heard;
    const int64_t reached = described - static_cast<int64_t>(on.reachedSecondsAgo() * rate);
    noteStep(described, true, 69 + on.note(), reached, estimate.level);
    ratio = std::clamp(std::exp2((c.pitchCents + correction) / 1200.0), 0.125, 8.0);
}

void LiveVoice::State::noteStep(int64_t time, bool isVoiced, int note, int64_t reached,
                                double level)
{
    SungNoteEvent found[2];
    const int count = sung.step(time, now, isVoiced, note, reached, level, found);
    for (int i = 0; i < count; ++i)
        pushNote(found[i]);
}

void LiveVoice::State::pushNote(const SungNoteEvent& event)
{
    if (notesWritten - notesRead == kNoteSlots) ++notesRead;
    noteEvents[notesWritten++ & (kNoteSlots - 1)] = event;
}

// The bottom of the difference function (newest window against the one a lag earlier) at the
// input's own rate, within two samples of the reduced rate's estimate.
double LiveVoice::State::refinePeriod(double coarse) const
{
    const int length = window * decimation;
    const int64_t newest = now - 1;
    const int centre = static_cast<int>(std::lround(coarse));
    if (newest - centre - kRefineReach - length < 0) return coarse;
    // The stretch ending at the newest sample, oldest first, in one piece.
    const double* end = input.data() + (newest & mask) + mask + 2;
    const double* head = end - length;
    double d[2 * kRefineReach + 1];
    for (int i = 0; i <= 2 * kRefineReach; ++i)
    {
        const double* lagged = head - (centre - kRefineReach + i);
        // Four running sums, so that the loop need not wait on one addition at a time.
        double sums[4] = {0.0, 0.0, 0.0, 0.0};
        int j = 0;
        for (; j + 4 <= length; j += 4)
            for (int k = 0; k < 4; ++k)
            {
                const double diff = head[j + k] - lagged[j + k];
                sums[k] += diff * diff;
            }
        for (; j < length; ++j)
            sums[0] += (head[j] - lagged[j]) * (head[j] - lagged[j]);
        d[i] = (sums[0] + sums[1]) + (sums[2] + sums[3]);
    }
    int best = 1;
    for (int i = 2; i < 2 * kRefineReach; ++i)
        if (d[i] < d[best]) best = i;
    const double a = d[best - 1], b = d[best], c = d[best + 1];
    const double denominator = a - 2.0 * b + c;
    const double offset =
        denominator > 0.0 ? std::clamp(0.5 * (a - c) / denominator, -0.5, 0.5) : 0.0;
    return centre - kRefineReach + best + offset;
}

// Marks one period apart, continued until the last one lies past `until`.
void LiveVoice::State::placeMarks(double until)
{
    double last = markPos[(markCount - 1) & (kMarkSlots - 1)];
    while (last < until)
    {
        last += period;
        markPos[markCount & (kMarkSlots - 1)] = last;
        markPeriod[markCount & (kMarkSlots - 1)] = period;
        ++markCount;
    }
}

void LiveVoice::State::startGrain(double centre, double t)
{
    // Unvoiced sound is cut at the delayed time itself, so that the grains add up to the input.
    Grain g{centre, centre - latency, unvoicedPeriod, 1.0, 1.0, 1.0};
    double spacing = unvoicedPeriod;
    const double wanted = centre - latency;
    if (!voiced)
        markCount = 0;
    else
    {
        // A voiced stretch starts its chain of marks at the delayed time: at the same pitch the
        // grains then add up to the input too.
        if (markCount == 0)
        {
            markPos[0] = wanted;
            markPeriod[0] = period;
            markCount = 1;
        }
        // The mark nearest the delayed time whose grain reads only input that has arrived by the
        // time each of its samples is played.
        placeMarks(wanted + period);
        const double r = formantStep;
        int64_t best = -1;
        for (int64_t i = markCount - 1; i >= 0 && i >= markCount - kMarkSlots; --i)
        {
            const double a = markPos[i & (kMarkSlots - 1)];
            const double p = markPeriod[i & (kMarkSlots - 1)];
            if (a > centre - (p * std::fabs(1.0 - 1.0 / r) + 2.0)) continue;
            if (best < 0 ||
                std::fabs(a - wanted) < std::fabs(markPos[best & (kMarkSlots - 1)] - wanted))
                best = i;
            if (a < wanted - 2.0 * p) break;
        }
        if (best >= 0)
        {
            const double p = markPeriod[best & (kMarkSlots - 1)];
            g.mark = markPos[best & (kMarkSlots - 1)];
            g.halfSpan = p / r;
            g.step = r;
            g.gain = std::sqrt(r / ratio);
            g.level = levelGain();
            spacing = p / ratio;
        }
    }
    // A grain longer than its lead foresaw is shortened on both sides rather than cut into.
    g.halfSpan = std::max(1.0, std::min(g.halfSpan, centre - t));
    if (grainCount < kMaxGrains) grains[grainCount++] = g;
    nextCentre = centre + spacing;
}

double LiveVoice::State::levelGain() const
{
    return std::clamp(std::sqrt((inputPower + kSilentPower) / (outputPower + kSilentPower)),
                      1.0 / kLevelRange, kLevelRange);
}

double LiveVoice::State::synthesise(double& raw)
{
    raw = 0.0;
    const double t = static_cast<double>(now - 1); // the output sample being formed
    double sum = 0.0;
    for (int i = 0; i < grainCount;)
    {
        Grain& g = grains[i];
        const double k = t - g.centre;
        if (k >= g.halfSpan)
        {
            grains[i] = grains[--grainCount];
            continue;
        }
        const double u = std::fabs(k) / g.halfSpan * kWindowTableSize;
        if (u < kWindowTableSize)
        {
            const int ui = static_cast<int>(u);
            const double w = hann[ui] + (hann[ui + 1] - hann[ui]) * (u - ui);
            const double p = g.mark + k * g.step;
            const double pf = std::floor(p);
            const int64_t pi = static_cast<int64_t>(pf);
            const double x0 = input[pi & mask], x1 = input[(pi + 1) & mask];
            const double v = g.gain * w * (x0 + (x1 - x0) * (p - pf));
            raw += v;
            sum += v * g.level;
        }
        ++i;
    }
    return sum;
}

LiveVoice::LiveVoice(int rate) : s(std::make_unique<State>(rate)) {}

LiveVoice::~LiveVoice() = default;

int LiveVoice::rate() const
{
    return s->rate;
}

int LiveVoice::latency() const
{
    return s->latency;
}

void LiveVoice::reset()
{
    State& st = *s;
    std::fill(st.input.begin(), st.input.end(), 0.0);
    std::fill(st.reduced.begin(), st.reduced.end(), 0.0);
    for (LowPass& section : st.antiAlias)
        section.z1 = section.z2 = 0.0;
    st.now = 0;
    st.tracker.reset();
    st.chooser = NoteChooser();
    st.heard = NoteChooser();
    st.voiced = false;
    st.period = 0.0;
    st.ratio = 1.0;
    st.markCount = 0;
    st.grainCount = 0;
    st.inputPower = st.outputPower = 0.0;
    st.sung.reset();
    st.notesWritten = st.notesRead = 0;
    st.nextCentre = st.latency;
}

void LiveVoice::process(const float* in, float* out, int count, const LiveControls& controls)
{
    State& st = *s;
    for (int k = 0; k < count; ++k)
    {
        const double x = in[k];
        const double clean = std::isfinite(x) ? x : 0.0;
        st.input[st.now & st.mask] = st.input[(st.now & st.mask) + st.mask + 1] = clean;
        const double low = st.decimation > 1 ? st.antiAlias[1](st.antiAlias[0](clean)) : clean;
        if (st.now % st.decimation == 0)
            st.reduced[(st.now / st.decimation) & st.reducedMask] = low;
        ++st.now;
        const int64_t phase = st.now % st.hop;
        if (phase == 0)
            st.startAnalysis();
        else if (phase == st.hop / 2 && st.now > st.hop)
            st.analyse(controls);
        // Pulses start a little before their centre: a period of the voice (the longer of the
        // latest and the one the marks were laid with), scaled by the formant step, covers the
        // grain's first half.
        const double t = static_cast<double>(st.now - 1);
        const double lead = st.voiced
                                ? std::max(st.period, st.lastMarkPeriod()) / st.formantStep + 2.0
                                : st.unvoicedPeriod + 2.0;
        while (st.nextCentre - lead <= t)
            st.startGrain(st.nextCentre, t);
        double raw;
        out[k] = static_cast<float>(st.synthesise(raw));
        const double dry = st.input[(st.now - 1 - st.latency) & st.mask];
        st.inputPower += (dry * dry - st.inputPower) * st.levelCoefficient;
        st.outputPower += (raw * raw - st.outputPower) * st.levelCoefficient;
        if (st.inputPower < kTiny) st.inputPower = 0.0;
        if (st.outputPower < kTiny) st.outputPower = 0.0;
    }
}

int LiveVoice::takeNoteEvents(SungNoteEvent* events, int capacity)
{
    State& st = *s;
    int count = 0;
    while (count < capacity && st.notesRead < st.notesWritten)
        events[count++] = st.noteEvents[st.notesRead++ & (kNoteSlots - 1)];
    return count;
}

void LiveVoice::endNotes()
{
    State& st = *s;
    SungNoteEvent event;
    if (st.sung.finish(st.now, st.now, &event)) st.pushNote(event);
}

int64_t LiveVoice::samplesProcessed() const
{
    return s->now;
}
