#pragma once

#include <cstddef>
#include <string>

namespace queltor::fuzz {

// A property that does not hold ends the process, so libFuzzer keeps the input.
void require(bool holds, const char *property, const std::string &detail);

// Bytes as a quoted C string, everything but printable ASCII escaped, so a
// failing input reads the same in any terminal.
std::string quoteBytes(const char *data, std::size_t size);

} // namespace queltor::fuzz
