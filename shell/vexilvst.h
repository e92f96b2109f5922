// The Halvern effect: one mono input, one mono output, 15 parameters, a fixed processing delay.
//
// Threads and the real-time contract:
// - Audio thread (processReplacing): copies each input sample into the block being filled, keeps
//   the control snapshots the frames will read, and reads each output sample from the ring at
//   the delay L. When a block completes, its engine work (BlockJob) is spread over the calls
//   that follow, finished at the latest before the first output sample it contributes to is
//   read. This path allocates nothing, takes no lock and makes no system call, at any host block
//   size and after any rate change.
// - Dispatcher thread (construction, setSampleRate, suspend, resume, close): allocates every
//   buffer, engine workspace, transform plan and window table for the current geometry; a new
//   rate reallocates them while suspended.
// - Any thread (setParameter, getParameter): the controls are relaxed atomics.
// - The process's dump writer thread (dumpwriter.h) rewrites f0map.txt from the maps the audio
//   thread hands over, within about 10 ms of the block's analysis. Once suspend or close
//   returns, the file holds this effect's last analysed block.
#pragma once

#include "audioeffectx.h"
#include "blockjob.h"
#include "controlstate.h"
#include "dumpwriter.h"
#include "geometry.h"
#include "samplerates.h"
#include "sharedcontrols.h"

#include <cstdint>
#include <memory>
#include <vector>

class VexilVST : public AudioEffectX
{
public:
    static constexpr int kNumParams = 15;
    static constexpr VstInt32 kUniqueID = 0x306E3338; // '0n38'

    // Throws std::bad_alloc (or std::system_error when the dump writer cannot start) when it
    // cannot allocate; nothing is left allocated then.
    explicit VexilVST(audioMasterCallback audioMaster);
    // Finishes the pending block and writes its map before returning.
    ~VexilVST() override;

    // Audio thread: no allocation, no lock, no system call.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // Dispatcher thread. A new rate re-derives the geometry and reallocates the buffers at once
    // while suspended, else at the next resume; the host hears of a new delay through
    // audioMasterIOChanged. Rates the engine cannot run at, or a failed reallocation, keep the
    // previous geometry.
    void setSampleRate(float rate) override;
    void suspend() override;
    void resume() override;

    // Any thread. Stores the quantised value and tells the editor (which only marks itself dirty).
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;

    const AnalysisGeometry& geometry() const { return geom; }
    int64_t getHostSampleCount() const { return hostSampleCount; }
    int64_t getBlockStartSample() const { return blockStartSample; }
    int getFillCount() const { return fillCount; }
    // Number of blocks analysed so far and the host sample index at which the last one completed.
    int64_t getBlocksProcessed() const { return blocksProcessed; }
    int64_t getLastBlockSample() const { return lastBlockSample; }
    // Engine steps run so far: a call that ran none did only the per-sample work.
    int64_t getEngineStepsRun() const { return buffers->job.stepsRun(); }

    // Continues the stream as if sampleIndex samples had already passed; only valid before any
    // audio was processed. Lets long-running behaviour be checked without hours of audio.
    void startAtSample(int64_t sampleIndex);

    // Lowest and highest analysis rates (samplerates.h).
    static constexpr int kMinRate = kHalvernMinRate;
    static constexpr int kMaxRate = kHalvernMaxRate;

private:
    // Everything sized by the geometry; allocated together so a failure leaves the old set.
    struct Buffers
    {
        explicit Buffers(const AnalysisGeometry& g);
        std::vector<double> inputBlock;
        std::vector<ControlState> controlSnapshots; // only those frames read are kept
        std::vector<int> keptSamples;               // their block samples, ascending
        std::vector<int>
            tailSnapshots; // kept snapshots of the tail, as indices into the next block
        std::vector<double> outputRing;
        DumpSlot dump;
        BlockJob job;
    };

    void completeBlock(int64_t completingSample);
    void applyRate(int rate);

    AnalysisGeometry geom;
    std::unique_ptr<Buffers> buffers;
    int64_t hostSampleCount = 0;  // host samples processed before the current call
    int64_t blockStartSample = 0; // absolute index of the first sample of the block being filled
    int fillCount = 0;
    int64_t blocksProcessed = 0;
    int64_t lastBlockSample = -1;

    bool resumed = false;
    int pendingRate = 0; // a rate set while resumed, applied at the next resume; 0 = none

    SharedControls controls;
};
