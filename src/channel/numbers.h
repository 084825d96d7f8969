#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace queltor {

// Digits with a leading minus when negative; no blanks, no leading zeros.
QString decimalText(long long value);

// Reads the number a text begins with, the way the panel's entry fields are read:
// blanks, tabs and line feeds are ignored wherever they stand, "&H"/"&O" start a
// hexadecimal/octal integer, reading stops at the first character that cannot
// continue the number, and a text that does not begin with one is 0.
// Never fails; a number too large for a double reads as +/-infinity.
double numericValue(QStringView text);

// Reads a stored setting: blanks around the number are allowed, but the rest
// must be exactly one number in the same syntax. Anything else is nullopt.
std::optional<double> strictNumber(QStringView text);

// Nearest integer with halves to the even neighbour; nullopt for NaN or a
// result outside [lowest, highest].
std::optional<long long> roundHalfEven(double value, long long lowest, long long highest);

// The 16-bit case, which the channel and port arithmetic uses.
std::optional<std::int16_t> roundToInt16(double value);

} // namespace queltor
