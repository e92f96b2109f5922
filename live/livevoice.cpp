#include "livevoice.h"

#include <cmath>
#include <vector>

int LiveVoice::latencyForRate(int rate)
{
    return static_cast<int>(static_cast<int64_t>(rate) * 512 / 44100);
}

struct LiveVoice::State
{
    int rate = 0;
    int latency = 0;
    std::vector<float> delayLine;
    int pos = 0;
};

LiveVoice::LiveVoice(int rate) : s(std::make_unique<State>())
{
    s->rate = rate;
    s->latency = latencyForRate(rate);
    s->delayLine.assign(s->latency, 0.0f);
}

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
    std::fill(s->delayLine.begin(), s->delayLine.end(), 0.0f);
    s->pos = 0;
}

void LiveVoice::process(const float* in, float* out, int count, const LiveControls&)
{
    for (int k = 0; k < count; ++k)
    {
        const float x = std::isfinite(in[k]) ? in[k] : 0.0f;
        if (s->latency == 0)
        {
            out[k] = x;
            continue;
        }
        out[k] = s->delayLine[s->pos];
        s->delayLine[s->pos] = x;
        if (++s->pos == s->latency) s->pos = 0;
    }
}
