// Sizes of the analysis, all derived from the analysis sample rate.
#pragma once

struct AnalysisGeometry
{
    int rate = 0;            // analysisRate, Hz
    int blockLength = 0;     // B: samples per analysis block (200 ms)
    int synthesisMargin = 0; // d: block tail analysed but left to the next block (25 ms)
    int blockOverlap = 0;    // e: samples carried into the next block (50 ms)
    int latency = 0;         // L: output delay in samples
    int frameCount = 0;      // m: frames on the 2 ms grid
    int frameLength = 0;     // N: power of two sizing the grain buffers
    int ringSize = 0;        // 2B
    int frameLimit = 0;      // F: frames synthesised per block

    static AnalysisGeometry forRate(int rate);
};
