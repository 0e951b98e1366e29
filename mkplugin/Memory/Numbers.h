// Number reading and integer conversion with the rules the plug-in has always used:
// decimal reading that stops at the first character that does not fit, and rounding of
// every computed value to the nearest integer with halves going to the even neighbour.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ramtidy {

// Reads the decimal number at the beginning of `text`: blanks (character 32 only) are skipped,
// then an optional sign, digits and optionally a decimal point with further digits. Reading
// stops at the first character that does not fit; no number gives 0. Exponents ("1e3" reads 1),
// "&H"/"&O" prefixes and blanks inside the number are not part of a number.
// Throws RuntimeError(Overflow) when the digits exceed the double range.
double ReadNumber(std::u16string_view text);

// Nearest integer, a half going to the even neighbour (12.5 -> 12, 13.5 -> 14, -2.5 -> -2).
double RoundHalfEven(double x);

// RoundHalfEven checked against the signed 64-bit / 32-bit / 16-bit range; NaN, infinities and
// values outside the range throw RuntimeError(Overflow). `what` names the value in the message.
int64_t RoundToInt64(double x, const char* what);
int32_t RoundToInt32(double x, const char* what);
int16_t RoundToInt16(double x, const char* what);

// Decimal digits with a minus sign for a negative value, no blanks.
std::u16string Decimal(int64_t value);

}  // namespace ramtidy
