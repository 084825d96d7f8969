#pragma once

#include <string>

namespace queltor::fuzz {

// A property that does not hold ends the process, so libFuzzer keeps the input.
void require(bool holds, const char *property, const std::string &detail);

} // namespace queltor::fuzz
