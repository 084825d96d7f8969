// What the panel reads and writes on its socket, over any bytes: a request
// line is taken only in the one way the grammar writes it; a reply is always
// one line of UTF-8 within its limit that reads back; the status JSON parses
// back with the device as given, whatever its characters.
#include "fuzz_check.h"
#include "remote/protocol.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

using queltor::fuzz::require;
namespace remote = queltor::remote;

namespace {

std::string describe(QByteArrayView bytes)
{
    return queltor::fuzz::quoteBytes(bytes.data(), std::size_t(bytes.size()));
}

// require() with the detail worked out only when the property does not hold.
template <typename Detail>
void check(bool holds, const char *property, const Detail &detail)
{
    if (!holds)
        require(false, property, detail());
}

bool isUtf8(const QByteArray &bytes) { return QString::fromUtf8(bytes).toUtf8() == bytes; }

// As the panel takes a request: the bytes before the first line end, within the limit.
void checkRequest(QByteArrayView input)
{
    const QByteArrayView taken = input.first(std::min<qsizetype>(input.size(), remote::kMaxRequestBytes));
    const qsizetype end = taken.indexOf('\n');
    if (end < 0)
        return;
    const QByteArrayView line = taken.first(end);
    const auto shown = [&] { return describe(line); };
    QString why;
    const std::optional<remote::Request> request = remote::parseRequest(line, &why);
    if (!request) {
        check(!why.isEmpty(), "a refusal says why", shown);
        return;
    }
    check(std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; }),
          "a request is printable ASCII", shown);
    const QByteArray written = remote::requestLine(*request);
    check(written == line.toByteArray() + '\n', "a request is taken only as the grammar writes it",
          [&] { return describe(line) + " is written " + describe(written); });
    check(request->channel >= 0 && request->channel <= 99 && request->start >= 0 && request->start <= 99
              && request->end >= 0 && request->end <= 99,
          "channels are 00 to 99", shown);
}

void checkReply(QByteArrayView input)
{
    // The first byte picks how many of the next are the code; the rest is the text.
    const QByteArrayView rest = input.sliced(input.isEmpty() ? 0 : 1);
    const qsizetype split = std::min<qsizetype>(input.isEmpty() ? 0 : static_cast<unsigned char>(input[0]) % 12,
                                                rest.size());
    const QByteArray code = rest.first(split).toByteArray();
    const QString text = QString::fromUtf8(rest.sliced(split));
    const QByteArray line = remote::replyLine(remote::Reply::failed(code.isEmpty() ? "x" : code, text));
    const auto shown = [&] { return describe(line); };
    check(line.endsWith('\n') && line.count('\n') == 1, "a reply is one line", shown);
    check(line.size() <= remote::kMaxReplyBytes, "a reply is within its limit", shown);
    check(isUtf8(line), "a reply is UTF-8", shown);
    check(std::all_of(line.begin(), line.end() - 1,
                      [](char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F; }),
          "a reply holds no control byte", shown);
    const std::optional<remote::Reply> read = remote::parseReply(line.chopped(1));
    check(read && !read->ok(), "an error reply reads back as one", shown);
}

void checkStatus(QByteArrayView input)
{
    remote::PanelStatus status;
    status.device = QString::fromUtf8(input);
    status.channel = input.isEmpty() ? 0 : static_cast<unsigned char>(input[0]) % 100;
    const QByteArray json = remote::statusJson(status);
    const QByteArray line = remote::replyLine(remote::Reply::done(json));
    const auto shown = [&] { return describe(line); };
    check(line.count('\n') == 1 && line.endsWith('\n'), "a status reply is one line", shown);
    if (json.size() > remote::kMaxReplyBytes - 4)
        return; // cut to the limit: a settings file cannot hold a device path that long
    const std::optional<remote::Reply> read = remote::parseReply(line.chopped(1));
    check(read && read->ok(), "a status reply reads back", shown);
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(read->data, &error).object();
    check(error.error == QJsonParseError::NoError, "the status is JSON", shown);
    check(object.value(QStringLiteral("device")).toString() == status.device, "the device reads back as given", shown);
    check(object.value(QStringLiteral("channel")).toInt(-1) == status.channel, "the channel reads back", shown);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    checkRequest(input);
    checkReply(input);
    checkStatus(input);
    return 0;
}
