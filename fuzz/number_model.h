#pragma once

#include <QStringView>

#include <optional>

// A second reading of the number syntax, written apart from the panel's: a
// state table decides where a number ends and the C library's strtod gives
// its value. The fuzz targets hold the panel's readings against it.
namespace queltor::fuzz {

// What the lenient reading steps over wherever it stands.
bool isInnerBlank(char16_t c);
// What the strict reading allows around the number.
bool isSurroundingBlank(char16_t c);

// Length of the longest prefix that is one whole number; 0 when there is none.
qsizetype numberPrefixLength(QStringView text);

// The value of a text that is exactly one number.
double numberValue(QStringView number);

// The number the text begins with once its blanks are gone, or 0.
double lenientModel(QStringView text);

// The value when the text is one number with blanks around it, else nothing.
std::optional<double> strictModel(QStringView text);

// The text without the blanks the strict reading allows around a number.
QStringView trimSurroundingBlanks(QStringView text);

} // namespace queltor::fuzz
