#pragma once

#include "fuzz_check.h"

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <string>

namespace queltor::fuzz {

// Inputs that begin with the bytes FF FE carry UTF-16LE code units, lone
// surrogates included; all others are read as UTF-8, which keeps the seed
// files readable.
QString textFrom(const std::uint8_t *data, std::size_t size);

// The text with every code unit outside printable ASCII as \uXXXX.
std::string describe(QStringView text);
std::string describe(double value);

// Equal down to the sign of zero.
bool sameDouble(double a, double b);

} // namespace queltor::fuzz
