#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>

namespace queltor::fuzz {

void require(bool holds, const char *property, const std::string &detail)
{
    if (holds)
        return;
    std::fprintf(stderr, "\nproperty does not hold: %s\n  %s\n", property, detail.c_str());
    std::abort();
}

} // namespace queltor::fuzz
