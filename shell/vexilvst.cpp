#include "vexilvst.h"

#include "vstgui.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using halvernparams::copyText;

namespace
{

// Widens count input samples into the block; a NaN or infinity must never reach the analysis or
// the ring, so it becomes 0 (x - x is 0 exactly for finite x).
void readInput(const float* in, double* block, int count)
{
    int k = 0;
#if defined(__SSE2__)
    const __m128d zero = _mm_setzero_pd();
    for (; k + 1 < count; k += 2)
    {
        // Two floats by a 64-bit load that has no alignment to keep.
        const __m128d x = _mm_cvtps_pd(
            _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + k))));
        _mm_storeu_pd(block + k, _mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(x, x), zero), x));
    }
#endif
    for (; k < count; ++k)
    {
        const double x = in[k];
        block[k] = std::isfinite(x) ? x : 0.0;
    }
}

// Reads count output samples from the ring from cell pos on, clearing each cell after reading;
// returns the cell after the last one read.
int readOutput(double* ring, int ringSize, int pos, float* out, int count)
{
    while (count > 0)
    {
        const int stretch = std::min(count, ringSize - pos);
        const double* cells = ring + pos;
        int k = 0;
#if defined(__SSE2__)
        for (; k + 1 < stretch; k += 2)
            _mm_storel_pi(reinterpret_cast<__m64*>(out + k), _mm_cvtpd_ps(_mm_loadu_pd(cells + k)));
#endif
        for (; k < stretch; ++k)
            out[k] = static_cast<float>(cells[k]);
        std::fill(ring + pos, ring + pos + stretch, 0.0);
        out += stretch;
        count -= stretch;
        pos += stretch;
        if (pos == ringSize) pos = 0;
    }
    return pos;
}

} // namespace

VexilVST::Buffers::Buffers(const AnalysisGeometry& g)
    : inputBlock(g.blockLength, 0.0), controlSnapshots(g.blockLength), outputRing(g.ringSize, 0.0),
      dump(g.frameCount), job(g, outputRing.data(), &dump)
{
    // A frame reads the snapshot of the sample at its time, in its own block or, for the first
    // frames, carried over from the previous block's tail.
    const int carried = g.blockLength - g.blockOverlap;
    for (int j = 0; j < g.frameCount; ++j)
    {
        const int k = job.frameSample(j);
        keptSamples.push_back(k);
        if (k < g.blockOverlap)
        {
            keptSamples.push_back(carried + k);
            tailSnapshots.push_back(k);
        }
    }
    std::sort(keptSamples.begin(), keptSamples.end());
    keptSamples.erase(std::unique(keptSamples.begin(), keptSamples.end()), keptSamples.end());
}

VexilVST::VexilVST(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, kNumParams),
      geom(AnalysisGeometry::forRate(static_cast<int>(sampleRate))),
      buffers(std::make_unique<Buffers>(geom))
{
    setNumInputs(1);
    setNumOutputs(1);
    setUniqueID(kUniqueID);
    isSynth(false);
    canProcessReplacing(true);

    new VstGui(this); // attaches itself as this effect's editor

    setInitialDelay(geom.latency);
}

VexilVST::~VexilVST()
{
    buffers->job.finish(); // its map belongs in the dump, written as the buffers go
}

void VexilVST::setSampleRate(float rate)
{
    AudioEffectX::setSampleRate(rate);
    if (!(rate >= kMinRate && rate <= kMaxRate)) return;
    const int newRate = static_cast<int>(rate);
    if (resumed)
        pendingRate = newRate;
    else
        applyRate(newRate);
}

void VexilVST::suspend()
{
    // The host processes no audio now: finish the pending block here and write its map, so the
    // dump is complete once suspend returns.
    buffers->job.finish();
    buffers->dump.flush();
    resumed = false;
    AudioEffectX::suspend();
}

void VexilVST::resume()
{
    if (pendingRate != 0)
    {
        applyRate(pendingRate);
        pendingRate = 0;
    }
    resumed = true;
    AudioEffectX::resume();
}

void VexilVST::applyRate(int rate)
{
    if (rate == geom.rate) return;
    const AnalysisGeometry next = AnalysisGeometry::forRate(rate);
    buffers->job.finish();
    try
    {
        buffers = std::make_unique<Buffers>(next);
    }
    catch (const std::exception&)
    {
        return; // the previous geometry keeps working
    }
    geom = next;
    hostSampleCount = 0;
    blockStartSample = 0;
    fillCount = 0;
    setInitialDelay(geom.latency);
    callHost(audioMasterIOChanged);
}

void VexilVST::startAtSample(int64_t sampleIndex)
{
    hostSampleCount = sampleIndex;
    blockStartSample = sampleIndex;
}

void VexilVST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (sampleFrames <= 0 || !inputs || !outputs || !inputs[0] || !outputs[0]) return;
    const float* in = inputs[0];
    float* out = outputs[0];
    Buffers& b = *buffers;
    BlockJob& job = b.job;
    const int64_t ringSize = geom.ringSize;
    // Ring cell of absolute sample s - L, kept non-negative.
    int readPos =
        static_cast<int>(((hostSampleCount - geom.latency) % ringSize + ringSize) % ringSize);

    // Runs of samples that end where a block completes or a pending block's output falls due.
    for (VstInt32 i = 0; i < sampleFrames;)
    {
        const int64_t now = hostSampleCount + i;
        if (job.pending() && now >= job.dueSample()) job.finish();
        int64_t run = std::min<int64_t>(sampleFrames - i, geom.blockLength - fillCount);
        if (job.pending()) run = std::min(run, job.dueSample() - now);
        const int count = static_cast<int>(run);

        // Inputs first: the host may pass the same buffer for input and output.
        readInput(in + i, b.inputBlock.data() + fillCount, count);
        // The snapshots frames will read, among the samples of this run.
        for (auto kept = std::lower_bound(b.keptSamples.begin(), b.keptSamples.end(), fillCount);
             kept != b.keptSamples.end() && *kept < fillCount + count; ++kept)
            b.controlSnapshots[*kept] = controls.load();
        // Outputs up to the completing sample are read before the block's work may run.
        const bool completes = fillCount + count == geom.blockLength;
        const int before = completes ? count - 1 : count;
        readPos = readOutput(b.outputRing.data(), geom.ringSize, readPos, out + i, before);
        fillCount += count;
        if (completes)
        {
            completeBlock(now + count - 1);
            // Above about 82 kHz the first block's output is due before the block is complete
            // (its chain starts at its first sample): it is synthesised at once then, without
            // the grains that begin in cells already read, which would otherwise sound a ring
            // cycle later.
            if (job.dueSample() <= now + count - 1) job.finish();
            readPos =
                readOutput(b.outputRing.data(), geom.ringSize, readPos, out + i + count - 1, 1);
        }
        i += count;
    }
    hostSampleCount += sampleFrames;
    if (job.pending()) job.advance(hostSampleCount);
}

void VexilVST::completeBlock(int64_t completingSample)
{
    Buffers& b = *buffers;
    const int B = geom.blockLength;
    const int e = geom.blockOverlap;
    b.job.start(b.inputBlock, b.controlSnapshots.data(), blockStartSample, completingSample);
    for (int k : b.tailSnapshots)
        b.controlSnapshots[k] = b.controlSnapshots[B - e + k];
    blockStartSample += B - e;
    fillCount = e;
    ++blocksProcessed;
    lastBlockSample = completingSample;
}

void VexilVST::setParameter(VstInt32 index, float value)
{
    controls.set(index, value);
    if (auto* gui = dynamic_cast<VstGui*>(editor)) gui->updateControl(index, value);
}

float VexilVST::getParameter(VstInt32 index)
{
    return controls.get(index);
}

void VexilVST::getParameterLabel(VstInt32, char* label)
{
    label[0] = 0;
}

void VexilVST::getParameterDisplay(VstInt32 index, char* text)
{
    controls.display(index, text);
}

void VexilVST::getParameterName(VstInt32 index, char* text)
{
    SharedControls::name(index, text);
}

bool VexilVST::getEffectName(char* name)
{
    copyText(name, "Halvern", kVstMaxEffectNameLen);
    return true;
}

bool VexilVST::getVendorString(char* text)
{
    copyText(text, "Brakk", kVstMaxVendorStrLen);
    return true;
}

bool VexilVST::getProductString(char* text)
{
    copyText(text, "Halvern", kVstMaxProductStrLen);
    return true;
}
