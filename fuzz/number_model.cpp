#include "number_model.h"

#include <QString>

#include <cstdlib>
#include <string>

namespace queltor::fuzz {

namespace {

enum class State {
    Start,
    Sign,
    Whole,      // digits
    WholePoint, // digits and a point: already a number
    Point,      // a point with no digits before it
    Fraction,
    ExponentMark,
    ExponentSign,
    Exponent,
    Ampersand,
    HexMark,
    Hex,
    OctalMark,
    Octal,
    Dead,
};

bool isDecimal(char16_t c) { return c >= u'0' && c <= u'9'; }

bool isHex(char16_t c) { return isDecimal(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

bool isOctal(char16_t c) { return c >= u'0' && c <= u'7'; }

bool isExponentMark(char16_t c) { return c == u'e' || c == u'E' || c == u'd' || c == u'D'; }

State step(State state, char16_t c)
{
    switch (state) {
    case State::Start:
        if (c == u'+' || c == u'-')
            return State::Sign;
        if (c == u'&')
            return State::Ampersand;
        [[fallthrough]];
    case State::Sign:
        if (isDecimal(c))
            return State::Whole;
        return c == u'.' ? State::Point : State::Dead;
    case State::Whole:
        if (isDecimal(c))
            return State::Whole;
        if (c == u'.')
            return State::WholePoint;
        return isExponentMark(c) ? State::ExponentMark : State::Dead;
    case State::WholePoint:
    case State::Fraction:
        if (isDecimal(c))
            return State::Fraction;
        return isExponentMark(c) ? State::ExponentMark : State::Dead;
    case State::Point:
        return isDecimal(c) ? State::Fraction : State::Dead;
    case State::ExponentMark:
        if (c == u'+' || c == u'-')
            return State::ExponentSign;
        [[fallthrough]];
    case State::ExponentSign:
    case State::Exponent:
        return isDecimal(c) ? State::Exponent : State::Dead;
    case State::Ampersand:
        if (c == u'h' || c == u'H')
            return State::HexMark;
        return c == u'o' || c == u'O' ? State::OctalMark : State::Dead;
    case State::HexMark:
    case State::Hex:
        return isHex(c) ? State::Hex : State::Dead;
    case State::OctalMark:
    case State::Octal:
        return isOctal(c) ? State::Octal : State::Dead;
    case State::Dead:
        break;
    }
    return State::Dead;
}

bool isComplete(State state)
{
    switch (state) {
    case State::Whole:
    case State::WholePoint:
    case State::Fraction:
    case State::Exponent:
    case State::Hex:
    case State::Octal:
        return true;
    default:
        return false;
    }
}

// Octal digits regrouped as hexadecimal ones, three bits at a time.
std::string octalAsHex(const std::string &octal)
{
    std::string bits;
    for (const char digit : octal) {
        const int value = digit - '0';
        for (int bit = 2; bit >= 0; --bit)
            bits += (value >> bit) & 1 ? '1' : '0';
    }
    bits.insert(0, (4 - bits.size() % 4) % 4, '0');
    std::string hex;
    for (std::size_t i = 0; i < bits.size(); i += 4)
        hex += "0123456789abcdef"[std::stoi(bits.substr(i, 4), nullptr, 2)];
    return hex;
}

} // namespace

bool isInnerBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

bool isSurroundingBlank(char16_t c) { return isInnerBlank(c) || c == u'\r'; }

qsizetype numberPrefixLength(QStringView text)
{
    qsizetype longest = 0;
    State state = State::Start;
    for (qsizetype i = 0; i < text.size() && state != State::Dead; ++i) {
        state = step(state, text[i].unicode());
        if (isComplete(state))
            longest = i + 1;
    }
    return longest;
}

double numberValue(QStringView number)
{
    // A whole number is ASCII by construction.
    std::string ascii = number.toLatin1().toStdString();
    if (ascii.size() > 2 && ascii[0] == '&') {
        const bool hex = ascii[1] == 'h' || ascii[1] == 'H';
        const std::string digits = ascii.substr(2);
        ascii = "0x" + (hex ? digits : octalAsHex(digits));
    } else {
        for (char &c : ascii) {
            if (c == 'd' || c == 'D')
                c = 'e';
        }
    }
    return std::strtod(ascii.c_str(), nullptr);
}

double lenientModel(QStringView text)
{
    QString visible;
    for (const QChar c : text) {
        if (!isInnerBlank(c.unicode()))
            visible.append(c);
    }
    const qsizetype length = numberPrefixLength(visible);
    return length == 0 ? 0.0 : numberValue(QStringView(visible).left(length));
}

QStringView trimSurroundingBlanks(QStringView text)
{
    while (!text.isEmpty() && isSurroundingBlank(text.front().unicode()))
        text = text.mid(1);
    while (!text.isEmpty() && isSurroundingBlank(text.back().unicode()))
        text.chop(1);
    return text;
}

std::optional<double> strictModel(QStringView text)
{
    const QStringView core = trimSurroundingBlanks(text);
    if (core.isEmpty() || numberPrefixLength(core) != core.size())
        return std::nullopt;
    return numberValue(core);
}

} // namespace queltor::fuzz
