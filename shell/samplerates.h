// The sample rates the effect runs at, for the effect and for hosts that want to say so; at
// other rates the effect keeps the rate it had.
#pragma once

// Below about 9.1 kHz the ring cannot hold the delay, and below about 11 kHz the longest grains
// of a block would wrap into cells about to be read.
constexpr int kHalvernMinRate = 11000;
constexpr int kHalvernMaxRate = 384000;
