// The decimal forms in which settings are stored. Converted by our own code rather than the C
// library's printf and strtod families: glibc and msvcrt disagree on ties, on digits beyond the
// seventeenth and on non-finite values, and both follow the process locale. Here every build and
// every locale writes and accepts exactly the same text.
#pragma once

#include <cstdint>
#include <string>

namespace quarvel {

// Digits after the decimal point of a stored floating-point setting ("%0.8lf"), and of the default
// text that a read of a missing floating-point entry inserts ("%lf").
constexpr int kStoredDecimals = 8;
constexpr int kDefaultTextDecimals = 6;

// The "%ld" form: decimal digits, a minus sign for negative values.
std::string formatInt(int32_t value);

// Fixed notation with `decimals` (0 to 20) digits after the point, rounded from the exact binary
// value to nearest with ties to even, as glibc prints "%.*f"; all integer digits are exact, however
// large the value. A negative sign is kept when the value rounds to zero ("-0.00000000"), again as
// in C. Non-finite values give the fixed texts "inf", "-inf" and "nan".
std::string formatDouble(double value, int decimals);

// Reads an integer as strtol does: optional white space (space, tab, LF, VT, FF, CR), an optional
// sign, then decimal digits up to the first other character. No digits gives 0. A number outside
// the 32-bit range saturates to INT32_MIN or INT32_MAX. A null text gives 0.
int32_t parseInt(const char* text);

// Reads a floating-point number as strtod does, but decimal only: optional white space, an
// optional sign, digits with an optional decimal point, then an optional exponent ("e" or "E",
// optional sign, at least one digit; otherwise the "e" is not part of the number). Hexadecimal
// forms, "inf" and "nan" are not numbers here: nothing readable gives 0.0. The result is correctly
// rounded (nearest, ties to even); magnitudes beyond the largest double give an infinity of the
// number's sign, tiny ones a subnormal or a signed zero. A null text gives 0.0.
double parseDouble(const char* text);

} // namespace quarvel
