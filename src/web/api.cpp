#include "web/api.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <optional>

namespace queltor::web {

namespace {

using remote::Request;

// A whole number 0 to 99.
std::optional<int> channelOf(const QJsonValue &value)
{
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > 99 || std::floor(number) != number)
        return std::nullopt;
    return int(number);
}

// The term as the grammar writes it: 0.5 as "0.5", 2 as "2".
std::optional<QByteArray> termOf(const QJsonValue &value)
{
    if (value.isString())
        return value.toString().toLatin1();
    if (!value.isDouble())
        return std::nullopt;
    QByteArray text = QByteArray::number(value.toDouble(), 'f', 6);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

} // namespace

const QList<std::pair<QByteArray, QByteArray>> &commonHeaders()
{
    static const QList<std::pair<QByteArray, QByteArray>> headers = {
        {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    };
    return headers;
}

ApiAnswer refusal(int status, const QByteArray &code, const QString &message)
{
    const QJsonObject body{{QStringLiteral("error"), QString::fromLatin1(code)}, {QStringLiteral("message"), message}};
    return {status, QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

ApiAnswer bodyTooLarge()
{
    return refusal(413, "too-large", QStringLiteral("the body is larger than %1 bytes").arg(kMaxBodyBytes));
}

ApiAnswer otherOrigin()
{
    return refusal(403, "origin", QStringLiteral("the call comes from a page other than this server's"));
}

std::variant<Request, ApiAnswer> panelRequest(Request::Verb verb, QByteArrayView body)
{
    if (body.size() > kMaxBodyBytes)
        return bodyTooLarge();
    Request request;
    request.verb = verb;
    if (verb != Request::Verb::Select && verb != Request::Verb::Scan)
        return request;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body.toByteArray(), &error);
    const QJsonObject object = document.object();
    const auto wrong = [](const char *text) { return refusal(400, remote::code::kRequest, QString::fromLatin1(text)); };
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return wrong("the body is not a JSON object");
    if (verb == Request::Verb::Select) {
        const std::optional<int> channel = channelOf(object.value(QStringLiteral("channel")));
        if (!channel)
            return wrong("select takes {\"channel\": N}, N a whole number 0 to 99");
        request.channel = *channel;
        return request;
    }
    const std::optional<int> start = channelOf(object.value(QStringLiteral("start")));
    const std::optional<int> end = channelOf(object.value(QStringLiteral("end")));
    const std::optional<QByteArray> term = termOf(object.value(QStringLiteral("term")));
    if (!start || !end || !term)
        return wrong("scan takes {\"start\": S, \"end\": E, \"term\": T}, S and E whole numbers 0 to 99, "
                     "T in seconds");
    request.start = *start;
    request.end = *end;
    request.term = *term;
    // The term's form is the grammar's: ask it.
    if (!remote::parseRequest(remote::requestLine(request).chopped(1)))
        return wrong("the term is seconds such as 0.5 or 2");
    return request;
}

ApiAnswer apiAnswer(const PanelAnswer &answer, const QString &settingsFile)
{
    const remote::Reply reply = answer.result(kPanelTimeoutMs, settingsFile);
    if (reply.ok())
        return {200, reply.data.isEmpty() ? QByteArray("{\"ok\":true}") : reply.data};
    int status = 409;
    if (answer.outcome == PanelAnswer::Outcome::Unknown)
        status = 504; // a retry might do it twice: the caller is told it cannot be known
    else if (answer.outcome != PanelAnswer::Outcome::Answered || reply.code == remote::code::kBusy)
        status = 503;
    else if (reply.code == remote::code::kPanel)
        status = 500;
    return refusal(status, reply.code, reply.text);
}

bool sameOrigin(QByteArrayView origin, QByteArrayView host, bool tls)
{
    if (origin.isEmpty() || host.isEmpty())
        return false;
    const QByteArray expected = (tls ? "https://" : "http://") + host.toByteArray();
    return origin.compare(expected, Qt::CaseInsensitive) == 0;
}

} // namespace queltor::web
