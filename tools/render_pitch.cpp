#include "render_pitch.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace render
{

namespace
{

// yinfast rather than yinfft: the same period search without yinfft's spectral weighting, and
// with a confidence figure (this aubio's yinfft reports none).
// aubio plans its transforms with FFTW, whose planner is not thread-safe; the renderer tracks
// several files at once.
std::mutex planMutex;

struct PitchDeleter
{
    void operator()(aubio_pitch_t* p) const
    {
        std::lock_guard<std::mutex> lock(planMutex);
        del_aubio_pitch(p);
    }
};

struct VectorDeleter
{
    void operator()(fvec_t* v) const { del_fvec(v); }
};

} // namespace

PitchTrack trackPitch(const std::vector<float>& signal, double rate,
                      const PitchTrackerSettings& settings)
{
    PitchTrack track;
    if (signal.empty() || !(rate > 0.0)) return track;

    const uint_t hop = static_cast<uint_t>(std::max(1L, std::lround(rate * settings.hopSeconds)));
    uint_t window = 64;
    while (window < rate * settings.windowSeconds || window < 2 * hop)
        window *= 2;

    std::unique_ptr<aubio_pitch_t, PitchDeleter> pitch;
    {
        std::lock_guard<std::mutex> lock(planMutex);
        pitch.reset(
            new_aubio_pitch("yinfast", window, hop, static_cast<uint_t>(std::lround(rate))));
    }
    if (!pitch) throw std::runtime_error("aubio cannot track pitch at this sample rate");
    aubio_pitch_set_unit(pitch.get(), "Hz");
    aubio_pitch_set_tolerance(pitch.get(), static_cast<smpl_t>(settings.tolerance));
    aubio_pitch_set_silence(pitch.get(), -120.0f); // the level gate below is relative
    std::unique_ptr<fvec_t, VectorDeleter> in(new_fvec(hop));
    std::unique_ptr<fvec_t, VectorDeleter> out(new_fvec(1));

    // YIN compares the first half of aubio's window with the stretch one period later, so an
    // estimate belongs to a quarter window plus half a period after the window's start (half the
    // period of a 200 Hz voice taken here). Leading silence puts those points on multiples of the
    // hop: frame i lies at sample i * hop.
    const long offset = static_cast<long>(window / 4) + std::lround(rate / 400.0);
    const long span = static_cast<long>(window) - offset; // from that point to the window's end
    const long h = static_cast<long>(hop);
    const long lead = (span + h - 1) / h * h - span;
    const long length = static_cast<long>(signal.size());
    const size_t frames = static_cast<size_t>(length / h) + 1;
    const long skipped = (span + lead) / h - 1;
    track.times.resize(frames);
    track.f0.assign(frames, 0.0);
    track.level.assign(frames, 0.0);

    for (long call = 0; call < skipped + static_cast<long>(frames); ++call)
    {
        const long first = call * h - lead;
        for (uint_t j = 0; j < hop; ++j)
        {
            const long k = first + j;
            in->data[j] = (k >= 0 && k < length) ? signal[static_cast<size_t>(k)] : 0.0f;
        }
        aubio_pitch_do(pitch.get(), in.get(), out.get());
        if (call < skipped) continue;
        const size_t i = static_cast<size_t>(call - skipped);
        const long centre = static_cast<long>(i) * h;
        track.times[i] = static_cast<double>(centre) / rate;
        double energy = 0.0;
        const long from = std::max(0L, centre - static_cast<long>(window / 2));
        const long to = std::min(length, centre + static_cast<long>(window / 2));
        for (long k = from; k < to; ++k)
            energy += static_cast<double>(signal[static_cast<size_t>(k)]) *
                      signal[static_cast<size_t>(k)];
        track.level[i] = std::sqrt(energy / window);
        const double f0 = out->data[0];
        if (aubio_pitch_get_confidence(pitch.get()) >= settings.minConfidence &&
            f0 >= settings.minF0 && f0 <= settings.maxF0)
            track.f0[i] = f0;
    }

    const double loudest = *std::max_element(track.level.begin(), track.level.end());
    const double floor = loudest * std::pow(10.0, settings.silenceDb / 20.0);
    for (size_t i = 0; i < frames; ++i)
        if (track.level[i] < floor || loudest < 1e-6) track.f0[i] = 0.0;

    // Median over the voiced neighbours: a glide can make one frame pick twice the period.
    const int reach = std::max(0, settings.medianFrames / 2);
    if (reach > 0)
    {
        const std::vector<double> raw = track.f0;
        std::vector<double> around;
        for (size_t i = 0; i < frames; ++i)
        {
            if (raw[i] <= 0.0) continue;
            around.clear();
            const size_t from = i >= static_cast<size_t>(reach) ? i - reach : 0;
            const size_t to = std::min(frames - 1, i + reach);
            for (size_t j = from; j <= to; ++j)
                if (raw[j] > 0.0) around.push_back(raw[j]);
            std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
            track.f0[i] = around[around.size() / 2];
        }
    }
    return track;
}

} // namespace render
