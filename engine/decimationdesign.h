// Coefficients of the anti-aliasing low-pass used before decimating by a factor D.
#pragma once

// Third-order recursive low-pass: w[k] = in[k] + a1 w[k-1] + a2 w[k-2] + a3 w[k-3],
// out[k] = b0 w[k] + b1 w[k-1] + b1 w[k-2] + b0 w[k-3].
struct DecimationCoefficients
{
    double a1, a2, a3, b0, b1;
};

// A Chebyshev type I design (0.05 dB ripple, cutoff at 0.8/D of the Nyquist frequency) mapped by
// the bilinear transform, with its three zeros at z = -1 and unity gain at 0 Hz. D >= 2.
DecimationCoefficients designDecimationLowPass(int D);
