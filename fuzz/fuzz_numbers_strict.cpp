// The strict reading of stored settings: exactly one number with blanks
// around it, the same value as the lenient reading, and decimal text that
// reads back as the number it was made from.
#include "channel/numbers.h"
#include "fuzz_support.h"
#include "number_model.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

using namespace queltor;
using namespace queltor::fuzz;

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

void checkAccepted(const QString &text, double value, const std::uint8_t *data, std::size_t size)
{
    const QStringView core = trimSurroundingBlanks(text);

    // The lenient reading agrees once the blanks around are gone (a leading
    // carriage return is text to it, not a blank).
    const double lenient = numericValue(core);
    require(sameDouble(lenient, value), "what the strict reading accepts, the lenient one reads alike",
            describe(core) + ": strict " + describe(value) + ", lenient " + describe(lenient));

    const QString padded = QStringLiteral(" \t\r\n") + text + QStringLiteral("\r\n\t ");
    const std::optional<double> again = strictNumber(padded);
    require(again && sameDouble(*again, value), "blanks around an accepted text keep it accepted, with its value",
            describe(padded));

    // A blank between two digits splits the number in two.
    QList<qsizetype> gaps;
    for (qsizetype i = 1; i < core.size(); ++i) {
        if (isDigit(core[i - 1]) && isDigit(core[i]))
            gaps.append(i);
    }
    if (!gaps.isEmpty()) {
        QString split = core.toString();
        split.insert(gaps[data[size - 1] % gaps.size()], QChar(u" \t\r\n"[data[0] % 4]));
        require(!strictNumber(split), "a blank between digits is refused", describe(split));
    }
}

void checkRoundTrips(const std::uint8_t *data)
{
    long long n = 0;
    std::memcpy(&n, data, sizeof n);
    const QString digits = decimalText(n);
    static const QRegularExpression decimalForm(QStringLiteral("\\A-?(0|[1-9][0-9]*)\\z"));
    require(decimalForm.match(digits).hasMatch(), "decimal text is digits with a minus when negative",
            describe(digits));
    const std::optional<double> read = strictNumber(digits);
    const auto nearest = static_cast<double>(n);
    require(read && sameDouble(*read, nearest), "decimal text of an integer reads back as that integer",
            describe(digits) + " reads " + (read ? describe(*read) : std::string("nothing")));
    require(sameDouble(numericValue(digits), nearest), "the lenient reading reads decimal text back", describe(digits));
    constexpr long long exactLimit = 1LL << 53; // every integer up to 2^53 is a double
    if (n >= -exactLimit && n <= exactLimit) {
        const auto rounded = roundHalfEven(*read, std::numeric_limits<long long>::min(),
                                           std::numeric_limits<long long>::max());
        require(rounded && *rounded == n, "an exact integer rounds to itself", describe(digits));
    }

    double d = 0;
    std::memcpy(&d, data, sizeof d);
    if (std::isfinite(d)) {
        char shortest[40];
        std::snprintf(shortest, sizeof shortest, "%.17g", d);
        const QString text = QString::fromLatin1(shortest);
        const std::optional<double> back = strictNumber(text);
        require(back && sameDouble(*back, d), "17 significant digits read back as the same double",
                describe(text) + " reads " + (back ? describe(*back) : std::string("nothing")));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = textFrom(data, size);
    const std::optional<double> value = strictNumber(text);
    const std::optional<double> expected = strictModel(text);
    require(value.has_value() == expected.has_value(),
            "the strict reading accepts exactly one number with blanks around it",
            describe(text) + (value ? " accepted" : " refused"));
    if (value) {
        require(sameDouble(*value, *expected), "the strict reading gives the number's value",
                describe(text) + " reads " + describe(*value) + ", expected " + describe(*expected));
        checkAccepted(text, *value, data, size);
    }
    if (size >= 8)
        checkRoundTrips(data);
    return 0;
}
