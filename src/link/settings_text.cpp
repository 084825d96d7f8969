#include "link/settings_text.h"

#include <QCoreApplication>

namespace queltor::settings_text {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isControl(char c)
{
    const auto u = static_cast<uchar>(c);
    return u < 0x20 || u == 0x7F;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A byte order mark, as editors on Windows begin a UTF-8 file with.
constexpr QByteArrayView kByteOrderMark("\xEF\xBB\xBF");

// Where the lines begin: after the byte order mark, which stays as it is.
qsizetype firstLine(QByteArrayView text) { return text.startsWith(kByteOrderMark) ? kByteOrderMark.size() : 0; }

// One line: its content is [begin, end), without the LF, CR LF or lone CR
// that ends it; the next line starts at next.
struct Line
{
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype next = 0;
    bool ended = false; // by a line end
};

Line lineAt(QByteArrayView text, qsizetype at)
{
    qsizetype end = at;
    while (end < text.size() && text.at(end) != '\n' && text.at(end) != '\r')
        ++end;
    if (end == text.size())
        return {at, end, end, false};
    const bool crlf = text.at(end) == '\r' && end + 1 < text.size() && text.at(end + 1) == '\n';
    return {at, end, end + (crlf ? 2 : 1), true};
}

struct Parsed
{
    enum Kind { Other, Group, Entry } kind = Other;
    QByteArrayView name; // of the group, or the entry's key
    qsizetype valueBegin = 0;
    qsizetype valueEnd = 0;
};

QByteArrayView trimmed(QByteArrayView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isBlank(s.at(begin)))
        ++begin;
    while (end > begin && isBlank(s.at(end - 1)))
        --end;
    return s.sliced(begin, end - begin);
}

Parsed parse(QByteArrayView text, const Line &line)
{
    const QByteArrayView content = text.sliced(line.begin, line.end - line.begin);
    const QByteArrayView stripped = trimmed(content);
    if (stripped.isEmpty() || stripped.front() == ';' || stripped.front() == '#')
        return {};
    if (stripped.front() == '[') {
        const QByteArrayView rest = stripped.sliced(1);
        const qsizetype close = rest.indexOf(']');
        return {Parsed::Group, trimmed(close < 0 ? rest : rest.first(close))};
    }
    const qsizetype equals = content.indexOf('=');
    if (equals < 0)
        return {};
    qsizetype begin = equals + 1;
    qsizetype end = content.size();
    while (begin < end && isBlank(content.at(begin)))
        ++begin;
    while (end > begin && isBlank(content.at(end - 1)))
        --end;
    return {Parsed::Entry, trimmed(content.first(equals)), line.begin + begin, line.begin + end};
}

// Where key's value stands in group, or, when it is missing, the line it goes after.
struct Place
{
    bool found = false;
    qsizetype valueBegin = 0;
    qsizetype valueEnd = 0;
    bool groupFound = false;
    Line last; // the last entry of the group's last section, or that section's header
};

Place locate(QByteArrayView text, QByteArrayView group, QByteArrayView key)
{
    Place place;
    bool inGroup = false;
    for (qsizetype at = firstLine(text); at < text.size();) {
        const Line line = lineAt(text, at);
        at = line.next;
        const Parsed parsed = parse(text, line);
        if (parsed.kind == Parsed::Group) {
            inGroup = parsed.name == group;
        } else if (parsed.kind != Parsed::Entry || !inGroup) {
            continue;
        } else if (parsed.name == key) {
            place.found = true;
            place.valueBegin = parsed.valueBegin;
            place.valueEnd = parsed.valueEnd;
        }
        if (inGroup) {
            place.groupFound = true;
            place.last = line;
        }
    }
    return place;
}

QByteArray unquoted(QByteArrayView inner)
{
    QByteArray out;
    out.reserve(inner.size());
    // Numeric escapes give UTF-16 code units, which may pair up.
    QString units;
    const auto flush = [&] {
        out += units.toUtf8();
        units.clear();
    };
    for (qsizetype i = 0; i < inner.size(); ++i) {
        const char c = inner.at(i);
        if (c != '\\' || i + 1 == inner.size()) {
            if (c != '\\') {
                flush();
                out += c;
            }
            continue;
        }
        const char e = inner.at(++i);
        static constexpr char kNamed[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                             {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                             {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
        bool named = false;
        for (const auto &pair : kNamed) {
            if (e == pair[0]) {
                flush();
                out += pair[1];
                named = true;
            }
        }
        if (named)
            continue;
        const int base = e == 'x' ? 16 : (e >= '0' && e <= '7' ? 8 : 0);
        if (base == 0)
            continue; // an unknown escape stands for nothing
        char16_t unit = base == 8 ? static_cast<char16_t>(e - '0') : 0;
        bool digits = base == 8;
        for (int d = 0; i + 1 < inner.size() && (d = hexDigit(inner.at(i + 1))) >= 0 && d < base; ++i) {
            unit = static_cast<char16_t>(unit * base + d);
            digits = true;
        }
        if (digits)
            units += QChar(unit);
    }
    flush();
    return out;
}

QByteArray decoded(QByteArrayView raw)
{
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
        return unquoted(raw.sliced(1, raw.size() - 2));
    return raw.toByteArray();
}

// The number of bytes of the valid UTF-8 sequence at i, or 0.
int utf8Length(QByteArrayView s, qsizetype i)
{
    const auto byte = [&s](qsizetype k) { return static_cast<uchar>(s.at(k)); };
    const uchar lead = byte(i);
    if (lead < 0x80)
        return 1;
    int length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;   // no overlong forms
        high = lead == 0xED ? 0x9F : high; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const uchar next = byte(i + k);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

// The file's own line end, as its first line ends: LF, CR LF or a lone CR.
QByteArray lineEnd(QByteArrayView text)
{
    const Line first = lineAt(text, firstLine(text));
    if (!first.ended)
        return "\n";
    return text.sliced(first.end, first.next - first.end).toByteArray();
}

// What ends the text's last line, where it has no line end yet.
QByteArray finalLineEnd(QByteArrayView text)
{
    QByteArray eol = lineEnd(text);
    if (text.size() == firstLine(text) || text.endsWith('\n'))
        return {};
    // A CR LF file whose last line lost its LF gets it back.
    if (text.endsWith('\r'))
        return eol == "\r\n" ? QByteArray("\n") : QByteArray();
    return eol;
}

} // namespace

QString flaw(QByteArrayView text)
{
    static_assert(kMaxValueChars == 1000, "the message below spells the limit out");
    if (text.size() > kMaxFileBytes)
        return QCoreApplication::translate("queltor::SettingsStore", "is larger than %1 KB").arg(kMaxFileBytes / 1024);
    int number = 0;
    for (qsizetype at = firstLine(text); at < text.size();) {
        const Line line = lineAt(text, at);
        at = line.next;
        ++number;
        const Parsed parsed = parse(text, line);
        if (parsed.kind != Parsed::Entry)
            continue;
        qsizetype chars = 0;
        for (qsizetype i = parsed.valueBegin; i < parsed.valueEnd; ++i)
            chars += (static_cast<uchar>(text.at(i)) & 0xC0) != 0x80; // UTF-8 continuation bytes add none
        if (chars > kMaxValueChars) {
            return QCoreApplication::translate("queltor::SettingsStore",
                                               "has a value of more than 1,000 characters on line %1")
                .arg(number);
        }
    }
    return {};
}

std::optional<QByteArray> value(QByteArrayView text, QByteArrayView group, QByteArrayView key)
{
    const Place place = locate(text, group, key);
    if (!place.found)
        return std::nullopt;
    return decoded(text.sliced(place.valueBegin, place.valueEnd - place.valueBegin));
}

QByteArray withValue(const QByteArray &text, QByteArrayView group, QByteArrayView key, QByteArrayView newValue)
{
    const Place place = locate(text, group, key);
    QByteArray updated = text;
    if (place.found)
        return updated.replace(place.valueBegin, place.valueEnd - place.valueBegin, encoded(newValue));

    const QByteArray eol = lineEnd(text);
    const QByteArray entry = key.toByteArray() + '=' + encoded(newValue);
    if (place.groupFound) {
        const Line &last = place.last;
        // A CR LF file cut after its last CR: that line's end is made whole first.
        const bool cutShort = last.next == text.size() && text.endsWith('\r') && eol == "\r\n";
        if (last.ended && !cutShort)
            return updated.insert(last.next, entry + eol);
        return updated + finalLineEnd(text) + entry;
    }
    if (text.size() > firstLine(text))
        updated += finalLineEnd(text) + eol;
    return updated + '[' + group.toByteArray() + ']' + eol + entry + eol;
}

QByteArray encoded(QByteArrayView newValue)
{
    // QSettings reads , ; = " and \ specially and trims blanks at either end.
    bool plain = newValue.isEmpty() || (!isBlank(newValue.front()) && !isBlank(newValue.back()));
    for (const char c : newValue)
        plain = plain && !isControl(c) && c != '"' && c != '\\' && c != ',' && c != ';' && c != '=';
    if (plain)
        return newValue.toByteArray();

    QByteArray out("\"");
    bool afterHex = false; // a hex escape takes every hex digit that follows it
    for (const char c : newValue) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
            afterHex = false;
        } else if (isControl(c) || (afterHex && hexDigit(c) >= 0)) {
            out += "\\x" + QByteArray::number(static_cast<uchar>(c), 16);
            afterHex = true;
        } else {
            out += c;
            afterHex = false;
        }
    }
    return out + '"';
}

QString forDisplay(QByteArrayView bytes)
{
    QString shown;
    for (qsizetype i = 0; i < bytes.size();) {
        const int length = utf8Length(bytes, i);
        if (length == 0 || isControl(bytes.at(i))) {
            shown += QString::asprintf("\\x%02X", static_cast<unsigned>(static_cast<uchar>(bytes.at(i))));
            ++i;
        } else {
            shown += QString::fromUtf8(bytes.sliced(i, length));
            i += length;
        }
    }
    return shown;
}

} // namespace queltor::settings_text
