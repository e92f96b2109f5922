#include "decimationdesign.h"

#include <cmath>
#include <complex>

DecimationCoefficients designDecimationLowPass(int D)
{
    constexpr int order = 3;
    constexpr double rippleDb = 0.05;
    const double pi = std::acos(-1.0);
    const double epsilon = std::sqrt(std::pow(10.0, rippleDb / 10.0) - 1.0);
    const double mu = std::asinh(1.0 / epsilon) / order;
    // Pre-warped cutoff for the bilinear map s = (z - 1) / (z + 1).
    const double cutoff = std::tan(pi * (0.8 / D) / 2.0);

    // Denominator 1 + c1 z^-1 + c2 z^-2 + c3 z^-3 from the digital poles.
    std::complex<double> c[order + 1] = {1.0, 0.0, 0.0, 0.0};
    for (int k = 1; k <= order; ++k)
    {
        const double theta = (2 * k - 1) * pi / (2 * order);
        const std::complex<double> analog(-std::sinh(mu) * std::sin(theta),
                                          std::cosh(mu) * std::cos(theta));
        const std::complex<double> pole = (1.0 + analog * cutoff) / (1.0 - analog * cutoff);
        for (int i = k; i >= 1; --i)
            c[i] -= pole * c[i - 1];
    }
    DecimationCoefficients out;
    out.a1 = -c[1].real();
    out.a2 = -c[2].real();
    out.a3 = -c[3].real();
    // Numerator b0 (1 + z^-1)^3 sums to 8 b0 at 0 Hz; an odd-order design peaks at 1 there.
    const double denominatorAtDc = c[0].real() + c[1].real() + c[2].real() + c[3].real();
    out.b0 = denominatorAtDc / 8.0;
    out.b1 = 3.0 * out.b0;
    return out;
}
