// appendFixed6 against glibc's snprintf("%f") over millions of values: random bit patterns of
// every exponent, typical magnitudes, exact rounding ties and their neighbours, the doubles
// around powers of ten and around the carries into the integer part, integers below and above
// 2^53 and 2^64, denormals, the extremes, infinities and NaNs, each with both signs.
#include "fixedtext.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace
{

double fromBits(uint64_t bits)
{
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

uint64_t toBits(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Compares v and -v, counting every comparison and reporting the first few mismatches.
class Comparer
{
public:
    void operator()(double v)
    {
        compareOne(v);
        compareOne(-v);
    }

    // v and its n nearest neighbours on each side (of the same sign).
    void around(double v, int n)
    {
        (*this)(v);
        double up = v;
        double down = v;
        for (int i = 0; i < n; ++i)
        {
            up = std::nextafter(up, std::numeric_limits<double>::infinity());
            down = std::nextafter(down, -std::numeric_limits<double>::infinity());
            (*this)(up);
            (*this)(down);
        }
    }

    long comparisons = 0;
    long mismatches = 0;

private:
    void compareOne(double v)
    {
        char expected[512];
        const int n = std::snprintf(expected, sizeof expected, "%f", v);
        char got[kFixed6MaxChars];
        char* end = appendFixed6(got, v);
        ++comparisons;
        if (end - got == n && std::memcmp(got, expected, static_cast<std::size_t>(n)) == 0) return;
        if (++mismatches <= 20)
            ADD_FAILURE() << "bits 0x" << std::hex << toBits(v) << ": expected \"" << expected
                          << "\", got \"" << std::string(got, end) << '"';
    }
};

// The double nearest to the decimal text s.
double parse(const std::string& s)
{
    return std::strtod(s.c_str(), nullptr);
}

TEST(AppendFixed6, MatchesSnprintfFixed)
{
    Comparer check;
    std::mt19937_64 rng(20240611);

    // Random bit patterns: every exponent, NaN payloads, infinities and denormals included.
    for (int i = 0; i < 60000; ++i)
        check(fromBits(rng()));
    // Random mantissas under each exponent below 2^64, where the integer arithmetic runs.
    for (uint64_t biased = 0; biased < 1023 + 64; ++biased)
        for (int i = 0; i < 300; ++i)
            check(fromBits(biased << 52 | (rng() >> 12)));

    // Typical magnitudes.
    std::uniform_real_distribution<double> small(0.0, 1000.0);
    std::uniform_real_distribution<double> large(0.0, 1e13);
    for (int i = 0; i < 500000; ++i)
    {
        check(small(rng));
        check(large(rng));
    }
    // Fractions m / 2^k for every k the fraction can carry, random m.
    for (int k = 1; k <= 1074; ++k)
        for (int i = 0; i < 40; ++i)
            check(std::ldexp(static_cast<double>(rng() >> 11), -k));

    // The only fractions that lie exactly half-way between two multiples of 10^-6 are the odd
    // multiples of 2^-7 (10^6 = 2^6 * 15625 with 15625 odd); both rounding directions occur.
    for (int64_t whole : {int64_t(0), int64_t(1), int64_t(2), int64_t(999), int64_t(123456),
                          int64_t(1) << 20, (int64_t(1) << 45) - 1, int64_t(1) << 45})
        for (int odd = 1; odd < 128; odd += 2)
            check.around(static_cast<double>(whole) + odd / 128.0, 3);
    for (int64_t whole = 0; whole < 10000; ++whole)
        for (int odd = 1; odd < 128; odd += 2)
            check(static_cast<double>(whole) + odd / 128.0);
    // The doubles nearest to the decimal half-way points (2u + 1) * 5e-7, which are not exact,
    // and their neighbours: they must round by their exact binary value.
    for (int u = 0; u < 50000; ++u)
        check.around((2 * u + 1) / 2e6, 4);
    for (int u = 0; u < 20000; ++u)
        check.around(7.0 + (2 * u + 1) / 2e6, 2);

    // Around every power of ten, and just below those where rounding carries into the
    // integer part: 9.9999995, 99.9999995, ...
    for (int p = -330; p <= 308; ++p)
        check.around(parse("1e" + std::to_string(p)), 20);
    for (std::size_t digits = 0; digits <= 17; ++digits)
    {
        check.around(parse(std::string(digits, '9') + ".9999995"), 50);
        check.around(parse(std::string(digits, '9') + ".9999994999"), 20);
        check.around(parse(std::string(digits, '9') + ".9999995001"), 20);
    }

    // Integers: all small ones, random ones below 2^53, the powers of two around 2^53 and 2^64
    // (where the integer arithmetic hands over to the fallback) and every power of two.
    for (int n = 0; n <= 100000; ++n)
        check(n);
    for (int i = 0; i < 100000; ++i)
        check(static_cast<double>(rng() >> 11));
    for (int i = 0; i < 100000; ++i)
        check(static_cast<double>(rng()));
    for (int e = 0; e <= 1023; ++e)
        check.around(std::ldexp(1.0, e), 5);

    // Extremes and specials.
    for (double v : {0.0, DBL_MIN, DBL_MAX, std::numeric_limits<double>::denorm_min(),
                     std::nextafter(DBL_MIN, 0.0), std::numeric_limits<double>::infinity()})
        check.around(v, 10);
    check(std::numeric_limits<double>::quiet_NaN());
    check(std::nan("0x5"));

    EXPECT_GT(check.comparisons, 3000000);
    EXPECT_EQ(check.mismatches, 0);
}

TEST(AppendFixed6, ReturnsTheEndOfTheText)
{
    for (double v :
         {0.0, -0.0, 123.456789, -0.0123, 1e13, 0.0078125, -DBL_MAX,
          std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN()})
    {
        char expected[512];
        std::snprintf(expected, sizeof expected, "%f", v);
        const std::size_t length = std::strlen(expected);
        ASSERT_LE(length, kFixed6MaxChars);
        char out[kFixed6MaxChars];
        char* end = appendFixed6(out, v);
        EXPECT_EQ(end, out + length) << expected;
        EXPECT_EQ(std::string(out, end), expected);
    }
}

} // namespace
