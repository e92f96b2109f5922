// Smoothing of a block's f0 track and snapping of one frame's f0 to the enabled notes.
//
// Real-time: no allocation, no lock, no I/O.
#pragma once

#include "controlstate.h"

// Mean of the voiced values in a centred 11-frame window, in place; unvoiced frames (0) stay 0.
// scratch holds m doubles.
void smoothF0Track(double* f0, int m, double* scratch);

// The enabled note nearest to f0 (Hz, equal temperament, A = 440 Hz); on a tie the lower note.
// With no note enabled, or an f0 that is negative or not finite, f0 comes back unchanged.
double snapToScale(const ControlState& state, double f0);
