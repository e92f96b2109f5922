#include "geometry.h"

#include <cmath>

AnalysisGeometry AnalysisGeometry::forRate(int rate)
{
    AnalysisGeometry g;
    const double r = rate;
    g.rate = rate;
    g.blockLength = static_cast<int>(0.2 * r);
    g.synthesisMargin = static_cast<int>(0.025 * r);
    g.blockOverlap = static_cast<int>(0.05 * r);
    g.latency = g.synthesisMargin + g.blockLength - g.blockOverlap + 2048;
    g.ringSize = 2 * g.blockLength;
    g.frameCount = 1 - static_cast<int>(g.blockLength / r * -500.0);
    // The smallest power of two above 3r/71 + 1.
    g.frameLength = static_cast<int>(
        std::pow(2.0, std::trunc(std::log(r * 3.0 * (1.0 / 71.0) + 1.0) * (1.0 / std::log(2.0))) + 1.0));
    g.frameLimit =
        static_cast<int>((g.blockLength - g.synthesisMargin) * (1.0 / r) * 500.0 + 0.5);
    return g;
}
