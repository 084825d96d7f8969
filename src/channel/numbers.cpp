#include "channel/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace queltor {

namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int hexDigitValue(char16_t c)
{
    if (isDigit(c))
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Walks a text character by character; in the lenient reading it steps over
// blanks, tabs and line feeds as if they were not there.
class Cursor
{
public:
    Cursor(QStringView text, qsizetype pos, bool skipBlanks)
        : m_text(text)
        , m_pos(pos)
        , m_skipBlanks(skipBlanks)
    {
        skip();
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    // NUL at the end: it continues nothing, so callers need no separate check.
    char16_t peek() const { return atEnd() ? u'\0' : m_text[m_pos].unicode(); }
    qsizetype pos() const { return m_pos; }

    void advance()
    {
        ++m_pos;
        skip();
    }

private:
    void skip()
    {
        if (!m_skipBlanks)
            return;
        while (!atEnd()) {
            const char16_t c = m_text[m_pos].unicode();
            if (c != u' ' && c != u'\t' && c != u'\n')
                break;
            ++m_pos;
        }
    }

    QStringView m_text;
    qsizetype m_pos;
    bool m_skipBlanks;
};

struct ScannedNumber
{
    bool hasDigits = false;
    double value = 0.0;
    qsizetype end = 0; // just past the last character that belongs to the number
};

// Adds a decimal digit to a saturating exponent; the cap lies far beyond any
// exponent a double can express, even after shifting by a long run of digits.
long long addExponentDigit(long long exponent, char16_t digit)
{
    constexpr long long cap = 1'000'000'000'000LL;
    return exponent >= cap ? cap : exponent * 10 + (digit - u'0');
}

// The digits after &H or &O. The leading 64 bits are kept exactly and any
// further nonzero digit sets the lowest bit, which is below double precision
// and so only breaks ties the right way; the rest is a power-of-two scale.
ScannedNumber scanRadix(Cursor &cursor, int bitsPerDigit)
{
    const int base = 1 << bitsPerDigit;
    std::uint64_t mantissa = 0;
    long long droppedDigits = 0;
    bool sticky = false;
    ScannedNumber scan;
    for (;;) {
        const int digit = hexDigitValue(cursor.peek());
        if (digit < 0 || digit >= base)
            break;
        if ((mantissa >> (64 - bitsPerDigit)) == 0) {
            mantissa = (mantissa << bitsPerDigit) | static_cast<std::uint64_t>(digit);
        } else {
            ++droppedDigits;
            sticky = sticky || digit != 0;
        }
        scan.hasDigits = true;
        cursor.advance();
        scan.end = cursor.pos();
    }
    if (sticky)
        mantissa |= 1;
    // Anything past 2^1100 is infinite anyway; the clamp keeps the int in range.
    const long long shift = std::min<long long>(droppedDigits * bitsPerDigit, 1100);
    scan.value = std::ldexp(static_cast<double>(mantissa), static_cast<int>(shift));
    return scan;
}

// Converts cleaned decimal digits with the C library's locale-free reader.
// from_chars leaves the value alone when it is out of range, so the order of
// magnitude decides between infinity and zero there.
double convertDecimal(const std::string &intDigits, const std::string &fracDigits, long long exponent, bool negative)
{
    std::string buffer;
    buffer.reserve(intDigits.size() + fracDigits.size() + 24);
    buffer += intDigits.empty() ? std::string("0") : intDigits;
    if (!fracDigits.empty()) {
        buffer += '.';
        buffer += fracDigits;
    }
    buffer += 'e';
    buffer += std::to_string(exponent);

    double magnitude = 0.0;
    const auto result = std::from_chars(buffer.data(), buffer.data() + buffer.size(), magnitude);
    if (result.ec == std::errc::result_out_of_range) {
        // Position of the leading nonzero digit relative to the units place.
        long long order = 0;
        const auto firstInt = intDigits.find_first_not_of('0');
        if (firstInt != std::string::npos) {
            order = static_cast<long long>(intDigits.size() - firstInt) - 1;
        } else {
            const auto firstFrac = fracDigits.find_first_not_of('0');
            order = -static_cast<long long>(firstFrac == std::string::npos ? 0 : firstFrac) - 1;
        }
        magnitude = order + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -magnitude : magnitude;
}

// The one grammar both readings share: [sign] digits [. digits] [E|D [sign] digits],
// or &H / &O followed by digits of that base.
ScannedNumber scanNumber(QStringView text, qsizetype start, bool skipBlanks)
{
    Cursor cursor(text, start, skipBlanks);
    ScannedNumber scan;
    scan.end = cursor.pos();

    if (cursor.peek() == u'&') {
        cursor.advance();
        const char16_t kind = cursor.peek();
        if (kind == u'h' || kind == u'H' || kind == u'o' || kind == u'O') {
            cursor.advance();
            const qsizetype afterPrefix = cursor.pos();
            scan = scanRadix(cursor, kind == u'h' || kind == u'H' ? 4 : 3);
            if (!scan.hasDigits)
                scan.end = afterPrefix;
        }
        return scan;
    }

    bool negative = false;
    if (cursor.peek() == u'+' || cursor.peek() == u'-') {
        negative = cursor.peek() == u'-';
        cursor.advance();
    }

    std::string intDigits;
    std::string fracDigits;
    while (isDigit(cursor.peek())) {
        intDigits += static_cast<char>(cursor.peek());
        cursor.advance();
        scan.end = cursor.pos();
    }
    if (cursor.peek() == u'.') {
        cursor.advance();
        if (!intDigits.empty())
            scan.end = cursor.pos(); // "1." is a whole number
        while (isDigit(cursor.peek())) {
            fracDigits += static_cast<char>(cursor.peek());
            cursor.advance();
            scan.end = cursor.pos();
        }
    }
    scan.hasDigits = !intDigits.empty() || !fracDigits.empty();
    if (!scan.hasDigits)
        return scan;

    long long exponent = 0;
    const char16_t marker = cursor.peek();
    if (marker == u'e' || marker == u'E' || marker == u'd' || marker == u'D') {
        // Tried on a copy: an exponent without digits is left unread.
        Cursor probe = cursor;
        probe.advance();
        bool negativeExponent = false;
        if (probe.peek() == u'+' || probe.peek() == u'-') {
            negativeExponent = probe.peek() == u'-';
            probe.advance();
        }
        if (isDigit(probe.peek())) {
            while (isDigit(probe.peek())) {
                exponent = addExponentDigit(exponent, probe.peek());
                probe.advance();
                scan.end = probe.pos();
            }
            if (negativeExponent)
                exponent = -exponent;
        }
    }

    scan.value = convertDecimal(intDigits, fracDigits, exponent, negative);
    return scan;
}

bool isSurroundingBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\r' || u == u'\n';
}

} // namespace

QString decimalText(long long value)
{
    // QString::number is locale-free and handles the most negative value.
    return QString::number(value);
}

double numericValue(QStringView text) { return scanNumber(text, 0, true).value; }

std::optional<double> strictNumber(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSurroundingBlank(text[begin]))
        ++begin;
    while (end > begin && isSurroundingBlank(text[end - 1]))
        --end;
    if (begin == end)
        return std::nullopt;

    const QStringView core = text.mid(begin, end - begin);
    const ScannedNumber scan = scanNumber(core, 0, false);
    if (!scan.hasDigits || scan.end != core.size())
        return std::nullopt;
    return scan.value;
}

std::optional<long long> roundHalfEven(double value, long long lowest, long long highest)
{
    if (!std::isfinite(value))
        return std::nullopt;

    // Done by hand so the result does not depend on the current rounding mode.
    const double below = std::floor(value);
    const double fraction = value - below; // exact for every finite double
    double rounded = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0))
        rounded = below + 1.0;

    // 2^63 is exact as a double; anything from there on does not fit a long long.
    constexpr double limit = 9223372036854775808.0;
    if (rounded >= limit || rounded < -limit)
        return std::nullopt;
    const auto result = static_cast<long long>(rounded);
    if (result < lowest || result > highest)
        return std::nullopt;
    return result;
}

std::optional<std::int16_t> roundToInt16(double value)
{
    const auto rounded = roundHalfEven(value, std::numeric_limits<std::int16_t>::min(),
                                       std::numeric_limits<std::int16_t>::max());
    if (!rounded)
        return std::nullopt;
    return static_cast<std::int16_t>(*rounded);
}

} // namespace queltor
