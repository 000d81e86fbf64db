#pragma once
// How stored setting texts are read as numbers and switches. Every reader is total: a damaged
// value never fails, it reads as 0 (off).

#include <QString>
#include <cstdint>

namespace chimewise {

// The number a text starts with, after leading blanks: an optional sign, digits, an optional
// decimal part and exponent ("5 min" -> 5, "-1" -> -1, "2.5e1x" -> 25). Text that does not start
// with a number reads as 0.
double LeadingNumber(const QString& text);

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -0.5 -> 0),
// clamped into the 16-bit range the program stores its numbers in.
std::int16_t RoundToInt16(double value);

// Same rounding, clamped into 32 bits (window positions and sizes).
std::int32_t RoundToInt32(double value);

// The numeric reading: the leading number, rounded halves to even, as a 16-bit integer.
std::int16_t NumericReading(const QString& text);

// A flag read numerically is on only when it reads as exactly 1.
bool NumericFlag(const QString& text);

// The not-zero reading: only the text "0" is off; anything else, the empty text included, is on.
bool NotZeroReading(const QString& text);

// The truth reading: a number that reads as 0 is off, any other number is on. Text that is not a
// number at all reads as 0, so as off.
bool TruthReading(const QString& text);

}  // namespace chimewise
