#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace queltor::web {

// 256 random bits from the system's generator, in base64url: a token or a session's id.
QByteArray randomSecret();

// The tokens that open the web server: a file beside the settings file
// (web-tokens), one line a token, "NAME SHA256", the hash in lower-case hex.
// Only the hash is ever stored; the token itself is shown once, when it is
// made. The file is edited line by line under a lock, as the settings file
// is: adding writes one line, revoking takes a name's lines out, and every
// other line stays as it is. It is written with mode 0600.
class TokenStore
{
public:
    // A token's name: 1 to 64 of A-Z, a-z, 0-9, '.', '_' and '-'.
    static bool isName(QStringView name);
    // The token file of the panel that keeps settingsFile.
    static QString fileBeside(const QString &settingsFile);

    explicit TokenStore(QString file);

    QString fileName() const { return m_file; }

    // A new random token of 256 bits for name, in base64url; nothing, with
    // why, when name is not a name, is taken, or the file cannot be written.
    std::optional<QByteArray> add(const QString &name, QString *why);
    // Takes name's token out; false, with why, when there is none or the file cannot be written.
    bool revoke(const QString &name, QString *why);
    // The names, in the file's order; nothing, with why, when the file cannot be read.
    std::optional<QStringList> names(QString *why = nullptr) const;

    // Who holds token: its name and stored hash, when its hash is in the file.
    // Every stored hash is compared in full, so the time taken tells nothing
    // of how close a wrong token came.
    struct Holder
    {
        QString name;
        QByteArray hash;
    };
    std::optional<Holder> match(QByteArrayView token) const;
    // Whether holder's token is still in the file (not revoked since).
    bool holds(const Holder &holder) const;

private:
    QString m_file;
};

} // namespace queltor::web
