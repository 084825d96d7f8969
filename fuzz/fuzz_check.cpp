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

std::string quoteBytes(const char *data, std::size_t size)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < size; ++i) {
        const auto u = static_cast<unsigned char>(data[i]);
        if (u >= 0x20 && u < 0x7F && u != '\\' && u != '"') {
            out += data[i];
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", u);
            out += escape;
        }
    }
    return out + "\"";
}

} // namespace queltor::fuzz
