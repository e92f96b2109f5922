#include "fixedtext.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace
{

// 10^1 ... 10^19: a whole part n has d digits when n < 10^d.
const uint64_t kPowersOfTen[19] = {10u,
                                   100u,
                                   1000u,
                                   10000u,
                                   100000u,
                                   1000000u,
                                   10000000u,
                                   100000000u,
                                   1000000000u,
                                   10000000000u,
                                   100000000000u,
                                   1000000000000u,
                                   10000000000000u,
                                   100000000000000u,
                                   1000000000000000u,
                                   10000000000000000u,
                                   100000000000000000u,
                                   1000000000000000000u,
                                   10000000000000000000u};

// "00" "01" ... "99": two digits per division halves the chain of dependent divisions.
const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void putPair(char* p, uint32_t twoDigits)
{
    std::memcpy(p, kDigitPairs + 2 * twoDigits, 2);
}

// x / 2^s rounded to nearest, ties to even; 1 <= s <= 63. Branch-free because the rounding
// direction of real data is random and a mispredicted branch costs more than the arithmetic.
uint64_t shiftRoundEven(uint64_t x, int s)
{
    const uint64_t q = x >> s;
    const uint64_t rest = x & ((uint64_t(1) << s) - 1);
    const uint64_t half = uint64_t(1) << (s - 1);
    return q + (static_cast<uint64_t>(rest > half) | (static_cast<uint64_t>(rest == half) & q & 1));
}

// round-half-even(f * 10^6) for the fraction f = frac / 2^k, 1 <= k, frac < 2^min(k, 53).
// 10^6 = 2^6 * 15625, so the rounding works on frac * 15625 / 2^(k - 6).
uint32_t roundMicros(uint64_t frac, int k)
{
    if (k <= 6) // f * 10^6 is a whole number
        return static_cast<uint32_t>(frac * (1000000u >> k));
    if (k <= 50) // frac < 2^50, so frac * 15625 < 2^64
        return static_cast<uint32_t>(shiftRoundEven(frac * 15625u, k - 6));
    // frac * 15625 < 2^67: form it from 32-bit halves, lo + hi * 2^32 with lo < 2^46, hi < 2^35,
    // keep it shifted right by 4 bits (exact below 2^63) and fold the 4 lost bits into bit 0.
    // Here k - 10 >= 41, so those bits lie far below the half-way bit and the sticky bit
    // decides above/at/below half exactly.
    const uint64_t lo = (frac & 0xFFFFFFFFu) * 15625u;
    const uint64_t hi = (frac >> 32) * 15625u;
    const uint64_t shifted = (hi << 28) + (lo >> 4);
    const uint64_t sticky = (lo & 15u) != 0 ? 1u : 0u;
    return static_cast<uint32_t>(shiftRoundEven(shifted | sticky, k - 10));
}

char* appendUnsigned(char* out, uint64_t n)
{
    int digits = 1;
    while (digits < 20 && n >= kPowersOfTen[digits - 1])
        ++digits;
    char* const end = out + digits;
    char* p = end;
    // 64-bit arithmetic is slower on 32-bit targets; leave it as soon as n fits 32 bits.
    while (n > 0xFFFFFFFFu)
    {
        p -= 2;
        putPair(p, static_cast<uint32_t>(n % 100));
        n /= 100;
    }
    uint32_t m = static_cast<uint32_t>(n);
    while (m >= 100)
    {
        p -= 2;
        putPair(p, m % 100);
        m /= 100;
    }
    if (m >= 10)
        putPair(p - 2, m);
    else
        p[-1] = static_cast<char>('0' + m);
    return end;
}

} // namespace

char* appendFixed6(char* out, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    // From 2^64 on the integer part no longer fits 64 bits; inf and nan also go here. to_chars
    // gives printf's text for these, its "inf"/"-inf"/"nan"/"-nan" included.
    if (biased >= 1023 + 64)
        return std::to_chars(out, out + kFixed6MaxChars, v, std::chars_format::fixed, 6).ptr;

    if ((bits >> 63) != 0) *out++ = '-';

    // |v| = mantissa * 2^-k.
    uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
    int k;
    if (biased == 0)
        k = 1074;
    else
    {
        mantissa |= uint64_t(1) << 52;
        k = 1075 - biased;
    }

    uint64_t whole;
    uint32_t micros = 0;
    if (k <= 0) // a whole number below 2^64: k >= -11
        whole = mantissa << -k;
    else if (k >= 74)
    {
        // fraction * 10^6 < 2^53 * 2^20 / 2^74 = 1/2: rounds to 0, and there is no whole part.
        whole = 0;
    }
    else if (k >= 53) // mantissa < 2^53 <= 2^k: all fraction
    {
        whole = 0;
        micros = roundMicros(mantissa, k);
    }
    else
    {
        whole = mantissa >> k;
        micros = roundMicros(mantissa & ((uint64_t(1) << k) - 1), k);
    }
    if (micros == 1000000u)
    {
        ++whole; // whole < 2^53 here, so this cannot wrap
        micros = 0;
    }

    out = appendUnsigned(out, whole);
    *out++ = '.';
    putPair(out, micros / 10000);
    putPair(out + 2, micros / 100 % 100);
    putPair(out + 4, micros % 100);
    return out + 6;
}
