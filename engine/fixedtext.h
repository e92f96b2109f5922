// Text of a double in fixed notation with six decimals, as glibc's printf("%f") writes it.
//
// Real-time: no allocation, no lock, no locale, no system call.
#pragma once

#include <cstddef>

// Room appendFixed6 may need: "-", 309 integer digits, ".", 6 decimals (317), with slack.
constexpr std::size_t kFixed6MaxChars = 330;

// Writes the text std::snprintf(buf, n, "%f", v) gives on glibc, without the terminating zero,
// into out, which has room for kFixed6MaxChars characters; returns the end of the text.
// The fraction is rounded from the exact binary value, ties to even; negative values, -0.0
// included, get a "-"; infinities and NaNs read "inf", "-inf", "nan", "-nan".
char* appendFixed6(char* out, double v);
