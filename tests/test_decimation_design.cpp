// The decimation low-pass design reproduces the fixed coefficient rows and behaves as a low-pass.
#include "decimationdesign.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

TEST(DecimationDesign, ReproducesTheTabulatedRows)
{
    const struct
    {
        int D;
        DecimationCoefficients c;
    } rows[] = {
        {2, {0.04115673456775719, -0.42599112459189636, 0.041037215479961225, 0.16797464681802227,
             0.5039239404540667}},
        {4, {1.4499664446880227, -0.9894349708095058, 0.24578252340690215, 0.03671075033932261,
             0.11013225101796784}},
        {6, {1.971535274951214, -1.4686795689225347, 0.3893908434965701, 0.013469181309343825,
             0.040407543928031475}},
        {8, {2.2357462340187593, -1.7780899984041358, 0.4915255536596869, 0.006352276340711199,
             0.019056829022133598}},
        {11, {2.450743295230728, -2.06794904601978, 0.595747744383321, 0.0026822508007163792,
              0.008046752402149138}},
        {12, {2.4981398605924205, -2.1368928194784025, 0.6218751381622148, 0.0021097275904709,
              0.0063291827714127}},
    };
    for (const auto& row : rows)
    {
        const DecimationCoefficients c = designDecimationLowPass(row.D);
        EXPECT_NEAR(c.a1, row.c.a1, 1e-9) << row.D;
        EXPECT_NEAR(c.a2, row.c.a2, 1e-9) << row.D;
        EXPECT_NEAR(c.a3, row.c.a3, 1e-9) << row.D;
        EXPECT_NEAR(c.b0, row.c.b0, 1e-9) << row.D;
        EXPECT_NEAR(c.b1, row.c.b1, 1e-9) << row.D;
    }
}

namespace
{
double gainAt(const DecimationCoefficients& c, double normalisedFrequency)
{
    const std::complex<double> z1 = std::polar(1.0, -M_PI * normalisedFrequency); // z^-1
    const std::complex<double> num = c.b0 + c.b1 * z1 + c.b1 * z1 * z1 + c.b0 * z1 * z1 * z1;
    const std::complex<double> den = 1.0 - c.a1 * z1 - c.a2 * z1 * z1 - c.a3 * z1 * z1 * z1;
    return std::abs(num / den);
}
} // namespace

TEST(DecimationDesign, EveryFactorIsAStableLowPassWithTheRippleBand)
{
    for (int D = 2; D <= 96; ++D)
    {
        const DecimationCoefficients c = designDecimationLowPass(D);
        EXPECT_NEAR(gainAt(c, 0.0), 1.0, 1e-9) << D;
        // Within the passband the gain stays inside the 0.05 dB ripple.
        for (double f = 0.0; f <= 0.8 / D; f += 0.01 / D)
            EXPECT_GT(20.0 * std::log10(gainAt(c, f)), -0.0501) << D << " at " << f;
        // Above the cutoff the gain only falls, down to the zeros at the old Nyquist frequency.
        double previous = gainAt(c, 0.8 / D);
        for (double f = 0.8 / D; f <= 1.0; f += 0.01 / D)
        {
            const double g = gainAt(c, f);
            EXPECT_LE(g, previous + 1e-12) << D << " at " << f;
            previous = g;
        }
        EXPECT_LT(gainAt(c, 1.0 / D), 0.95) << D;
        EXPECT_LT(gainAt(c, std::min(1.0, 4.0 / D)), 0.05) << D;
        // Poles inside the unit circle: the impulse response decays.
        double w1 = 0, w2 = 0, w3 = 0, last = 0;
        for (int k = 0; k < 20000; ++k)
        {
            const double w = (k == 0 ? 1.0 : 0.0) + c.a1 * w1 + c.a2 * w2 + c.a3 * w3;
            w3 = w2;
            w2 = w1;
            w1 = w;
            last = std::fabs(w);
        }
        EXPECT_LT(last, 1e-6) << D;
    }
}
