#include "web/token_store.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <array>
#include <functional>

namespace queltor::web {

namespace {

constexpr qsizetype kMaxFileBytes = qsizetype(64) * 1024;
constexpr qsizetype kMaxNameChars = 64;
constexpr qsizetype kHashHexChars = 64;
constexpr int kLockWaitMs = 5000;

bool isLowerHex(QByteArrayView text)
{
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// The token a line stands for: "NAME HASH" and nothing else.
std::optional<TokenStore::Holder> tokenLine(QByteArrayView line)
{
    const qsizetype space = line.indexOf(' ');
    if (space < 0)
        return std::nullopt;
    const QString name = QString::fromLatin1(line.first(space));
    const QByteArrayView hash = line.sliced(space + 1);
    if (!TokenStore::isName(name) || hash.size() != kHashHexChars || !isLowerHex(hash))
        return std::nullopt;
    return TokenStore::Holder{name, hash.toByteArray()};
}

// The file's lines, each with its line end; nothing, with why, when it cannot be read.
std::optional<QList<QByteArray>> readLines(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.exists())
        return QList<QByteArray>{};
    const QFileInfo info(path);
    if (!info.isFile()) {
        *why = QStringLiteral("%1 is not a regular file").arg(path);
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray text = file.read(kMaxFileBytes + 1);
    if (text.size() > kMaxFileBytes) {
        *why = QStringLiteral("%1 is larger than 64 KB").arg(path);
        return std::nullopt;
    }
    QList<QByteArray> lines;
    for (qsizetype from = 0; from < text.size();) {
        const qsizetype end = text.indexOf('\n', from);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        lines << text.mid(from, next - from);
        from = next;
    }
    return lines;
}

QByteArray withoutLineEnd(const QByteArray &line) { return line.endsWith('\n') ? line.chopped(1) : line; }

QByteArray hashOf(QByteArrayView token) { return QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex(); }

// Reads, changes and writes the file under its lock; change gives the new lines or, with why, nothing.
bool edit(const QString &path,
          const std::function<std::optional<QList<QByteArray>>(QList<QByteArray> lines, QString *why)> &change,
          QString *why)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *why = QStringLiteral("the folder %1 cannot be made").arg(folder);
        return false;
    }
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) {
        *why = QStringLiteral("%1.lock is held by another program").arg(path);
        return false;
    }
    const std::optional<QList<QByteArray>> before = readLines(path, why);
    if (!before)
        return false;
    const std::optional<QList<QByteArray>> after = change(*before, why);
    if (!after)
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *why = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    for (const QByteArray &line : *after)
        file.write(line);
    if (!file.commit()) {
        *why = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QByteArray randomSecret()
{
    std::array<quint32, 8> random{};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    return QByteArray(reinterpret_cast<const char *>(random.data()), sizeof random)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

bool TokenStore::isName(QStringView name)
{
    if (name.isEmpty() || name.size() > kMaxNameChars)
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool letterOrDigit = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (!letterOrDigit && u != '.' && u != '_' && u != '-')
            return false;
    }
    return true;
}

QString TokenStore::fileBeside(const QString &settingsFile)
{
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/web-tokens");
}

TokenStore::TokenStore(QString file)
    : m_file(std::move(file))
{
}

std::optional<QByteArray> TokenStore::add(const QString &name, QString *why)
{
    if (!isName(name)) {
        *why = QStringLiteral("a token's name is 1 to 64 letters, digits, '.', '_' or '-'");
        return std::nullopt;
    }
    const QByteArray token = randomSecret();
    const bool added = edit(
        m_file,
        [&](QList<QByteArray> lines, QString *refusal) -> std::optional<QList<QByteArray>> {
            for (const QByteArray &line : lines) {
                const std::optional<Holder> holder = tokenLine(withoutLineEnd(line));
                if (holder && holder->name == name) {
                    *refusal = QStringLiteral("there is a token named %1 already; revoke it first").arg(name);
                    return std::nullopt;
                }
            }
            if (!lines.isEmpty() && !lines.last().endsWith('\n'))
                lines.last() += '\n';
            lines << name.toLatin1() + ' ' + hashOf(token) + '\n';
            return lines;
        },
        why);
    if (!added)
        return std::nullopt;
    return token;
}

bool TokenStore::revoke(const QString &name, QString *why)
{
    return edit(
        m_file,
        [&](QList<QByteArray> lines, QString *refusal) -> std::optional<QList<QByteArray>> {
            const qsizetype removed = lines.removeIf([&name](const QByteArray &line) {
                const std::optional<Holder> holder = tokenLine(withoutLineEnd(line));
                return holder && holder->name == name;
            });
            if (removed == 0) {
                *refusal = QStringLiteral("there is no token named %1").arg(name);
                return std::nullopt;
            }
            return lines;
        },
        why);
}

std::optional<QStringList> TokenStore::names(QString *why) const
{
    QString unused;
    const std::optional<QList<QByteArray>> lines = readLines(m_file, why ? why : &unused);
    if (!lines)
        return std::nullopt;
    QStringList names;
    for (const QByteArray &line : *lines) {
        if (const std::optional<Holder> holder = tokenLine(withoutLineEnd(line)))
            names << holder->name;
    }
    return names;
}

std::optional<TokenStore::Holder> TokenStore::match(QByteArrayView token) const
{
    QString why;
    const std::optional<QList<QByteArray>> lines = readLines(m_file, &why);
    if (!lines)
        return std::nullopt;
    const QByteArray hash = hashOf(token);
    std::optional<Holder> found;
    for (const QByteArray &line : *lines) {
        const std::optional<Holder> holder = tokenLine(withoutLineEnd(line));
        if (!holder)
            continue;
        // Every byte compared, whatever the first difference.
        char difference = 0;
        for (qsizetype i = 0; i < kHashHexChars; ++i)
            difference = char(difference | (holder->hash[i] ^ hash[i]));
        if (difference == 0)
            found = holder;
    }
    return found;
}

bool TokenStore::holds(const Holder &holder) const
{
    QString why;
    const std::optional<QList<QByteArray>> lines = readLines(m_file, &why);
    if (!lines)
        return false;
    for (const QByteArray &line : *lines) {
        const std::optional<Holder> stored = tokenLine(withoutLineEnd(line));
        if (stored && stored->name == holder.name && stored->hash == holder.hash)
            return true;
    }
    return false;
}

} // namespace queltor::web
