#include "remote/protocol.h"

#include "link/port_label.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <ctime>

namespace queltor::remote {

namespace {

constexpr int kTermDigits = 6;
constexpr QByteArrayView kDeadline("deadline=");
constexpr qsizetype kDeadlineDigits = 18; // far beyond any uptime, and within a qint64

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Two digits, 00 to 99.
std::optional<int> channelWord(QByteArrayView word)
{
    if (word.size() != 2 || !isDigit(word[0]) || !isDigit(word[1]))
        return std::nullopt;
    return (word[0] - '0') * 10 + (word[1] - '0');
}

qsizetype digitsAt(QByteArrayView word, qsizetype from)
{
    qsizetype n = 0;
    while (from + n < word.size() && isDigit(word[from + n]))
        ++n;
    return n;
}

// ["-"] 1*6DIGIT ["." 1*6DIGIT]
bool isTerm(QByteArrayView word)
{
    qsizetype at = word.startsWith('-') ? 1 : 0;
    const qsizetype whole = digitsAt(word, at);
    if (whole < 1 || whole > kTermDigits)
        return false;
    at += whole;
    if (at == word.size())
        return true;
    if (word[at] != '.')
        return false;
    const qsizetype fraction = digitsAt(word, at + 1);
    return fraction >= 1 && fraction <= kTermDigits && at + 1 + fraction == word.size();
}

// "0" / %x31-39 *17DIGIT: one way of writing each number.
std::optional<qint64> deadlineWord(QByteArrayView word)
{
    if (!word.startsWith(kDeadline))
        return std::nullopt;
    const QByteArrayView digits = word.sliced(kDeadline.size());
    if (digits.isEmpty() || digits.size() > kDeadlineDigits || digitsAt(digits, 0) != digits.size()
        || (digits.size() > 1 && digits[0] == '0'))
        return std::nullopt;
    return digits.toByteArray().toLongLong();
}

std::optional<Request> refuse(QString *why, const char *text)
{
    if (why)
        *why = QString::fromLatin1(text);
    return std::nullopt;
}

QByteArray twoDigits(int channel) { return QByteArray::number(channel / 10 % 10) + QByteArray::number(channel % 10); }

// Printable UTF-8 on one line: control characters are spaces.
QByteArray oneLine(const QString &text)
{
    QString flat = text;
    for (QChar &c : flat) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return flat.toUtf8();
}

// At most limit bytes, never half a UTF-8 character.
QByteArray cut(QByteArray bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
        --end;
    bytes.truncate(end);
    return bytes;
}

} // namespace

std::optional<Request> parseRequest(QByteArrayView line, QString *why)
{
    if (line.isEmpty())
        return refuse(why, "the request is empty");
    if (line.size() >= kMaxRequestBytes)
        return refuse(why, "the request is longer than 256 bytes");
    for (const char c : line) {
        if (c < 0x20 || c > 0x7E)
            return refuse(why, "the request holds a byte that is not printable ASCII");
    }
    QList<QByteArrayView> words;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            if (i == from)
                return refuse(why, "the request has an empty word: words are separated by one space");
            words << line.sliced(from, i - from);
            from = i + 1;
        }
    }
    Request request;
    if (words.size() > 1 && words.last().startsWith(kDeadline)) {
        request.deadlineMs = deadlineWord(words.last());
        if (!request.deadlineMs)
            return refuse(why, "a deadline is deadline= and milliseconds of CLOCK_MONOTONIC");
        words.removeLast();
    }
    const QByteArrayView verb = words.first();
    const qsizetype arguments = words.size() - 1;

    if (verb == "select") {
        const std::optional<int> channel = arguments == 1 ? channelWord(words[1]) : std::nullopt;
        if (!channel)
            return refuse(why, "select takes one channel of two digits, 00 to 99");
        request.verb = Request::Verb::Select;
        request.channel = *channel;
        return request;
    }
    if (verb == "scan") {
        const std::optional<int> start = arguments == 3 ? channelWord(words[1]) : std::nullopt;
        const std::optional<int> end = arguments == 3 ? channelWord(words[2]) : std::nullopt;
        if (!start || !end || !isTerm(words[3]))
            return refuse(why, "scan takes a start and an end channel of two digits and a term in seconds");
        request.verb = Request::Verb::Scan;
        request.start = *start;
        request.end = *end;
        request.term = words[3].toByteArray();
        return request;
    }
    static const struct
    {
        const char *word;
        Request::Verb verb;
    } kBare[] = {{"status", Request::Verb::Status},
                 {"stop", Request::Verb::Stop},
                 {"raise", Request::Verb::Raise},
                 {"watch", Request::Verb::Watch}};
    for (const auto &bare : kBare) {
        if (verb == bare.word) {
            if (arguments != 0)
                return refuse(why, "status, stop, raise and watch take nothing more");
            request.verb = bare.verb;
            return request;
        }
    }
    return refuse(why, "not a request: the requests are select, status, scan, stop, raise and watch");
}

QByteArray requestLine(const Request &request)
{
    QByteArray line;
    switch (request.verb) {
    case Request::Verb::Select:
        line = "select " + twoDigits(request.channel);
        break;
    case Request::Verb::Scan:
        line = "scan " + twoDigits(request.start) + ' ' + twoDigits(request.end) + ' ' + request.term;
        break;
    case Request::Verb::Status:
        line = "status";
        break;
    case Request::Verb::Stop:
        line = "stop";
        break;
    case Request::Verb::Raise:
        line = "raise";
        break;
    case Request::Verb::Watch:
        line = "watch";
        break;
    }
    if (request.deadlineMs)
        line += ' ' + kDeadline.toByteArray() + QByteArray::number(*request.deadlineMs);
    return line + '\n';
}

qint64 monotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

Reply outsideBank(int channel, int count)
{
    return Reply::failed(code::kChannel,
                         QStringLiteral("channel %1 is not in the bank of %2 channels, 00 to %3")
                             .arg(channel, 2, 10, QLatin1Char('0'))
                             .arg(count)
                             .arg(count - 1, 2, 10, QLatin1Char('0')));
}

QByteArray replyLine(const Reply &reply)
{
    if (reply.ok()) {
        QByteArray data = reply.data;
        for (char &c : data) {
            if (c == '\n' || c == '\r')
                c = ' ';
        }
        return (data.isEmpty() ? QByteArray("ok") : "ok " + cut(data, kMaxReplyBytes - 4)) + '\n';
    }
    QByteArray code = reply.code;
    for (char &c : code) {
        if (c < 'a' || c > 'z')
            c = '-';
    }
    const QByteArray head = "error " + cut(code, 32) + ' ';
    return head + cut(oneLine(reply.text), kMaxReplyBytes - head.size() - 1) + '\n';
}

std::optional<Reply> parseReply(QByteArrayView line)
{
    if (line == "ok")
        return Reply::done();
    if (line.startsWith("ok "))
        return Reply::done(line.sliced(3).toByteArray());
    if (!line.startsWith("error "))
        return std::nullopt;
    const QByteArrayView rest = line.sliced(6);
    const qsizetype space = rest.indexOf(' ');
    if (space <= 0)
        return std::nullopt;
    return Reply::failed(rest.first(space).toByteArray(), QString::fromUtf8(rest.sliced(space + 1)));
}

QByteArray statusJson(const PanelStatus &status)
{
    QJsonObject object{
        {QStringLiteral("panel"), true},
        {QStringLiteral("port"), portLabel(status.port)},
        {QStringLiteral("device"), status.device},
        {QStringLiteral("connected"), status.connected},
        {QStringLiteral("mode"), status.automatic ? QStringLiteral("auto") : QStringLiteral("manual")},
        {QStringLiteral("channel"), status.channel},
        {QStringLiteral("bank"), status.bank},
        {QStringLiteral("scanning"), status.scanning},
        {QStringLiteral("scan_start"), status.scanStart},
        {QStringLiteral("scan_end"), status.scanEnd},
        {QStringLiteral("scan_term"), status.scanTermMs ? QJsonValue(*status.scanTermMs / 1000.0) : QJsonValue()},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray noPanelJson()
{
    return QJsonDocument(QJsonObject{{QStringLiteral("panel"), false}}).toJson(QJsonDocument::Compact);
}

} // namespace queltor::remote
