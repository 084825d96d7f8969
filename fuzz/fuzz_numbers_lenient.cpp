// The lenient reading of entry fields: it never fails, never gives NaN, and
// gives the value of the number the text begins with, blanks ignored.
#include "channel/numbers.h"
#include "fuzz_support.h"
#include "number_model.h"

#include <cmath>

using namespace queltor;
using namespace queltor::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = textFrom(data, size);
    const double value = numericValue(text);
    require(!std::isnan(value), "the lenient reading is never NaN", describe(text));

    const double expected = lenientModel(text);
    require(sameDouble(value, expected), "the lenient reading is the number the text begins with, blanks ignored",
            describe(text) + " reads " + describe(value) + ", expected " + describe(expected));

    // A blank is invisible wherever it stands, even inside "&H" or an exponent.
    if (size > 0) {
        const qsizetype at = data[0] % (text.size() + 1);
        QString spaced = text;
        spaced.insert(at, QChar(u" \t\n"[data[size - 1] % 3]));
        const double spacedValue = numericValue(spaced);
        require(sameDouble(spacedValue, value), "one more blank anywhere changes nothing",
                describe(spaced) + " reads " + describe(spacedValue) + ", " + describe(text) + " reads "
                    + describe(value));
    }
    return 0;
}
