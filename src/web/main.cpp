// queltor-web: the panel of a settings file on the network, as a page and a
// JSON API, through the panel's own socket. Everything it prints is English.
#include "link/exit_signals.h"
#include "link/settings_store.h"
#include "remote/panel_socket.h"
#include "web/token_store.h"
#include "web/web_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSslKey>
#include <QSslSocket>

#include <cstdio>
#include <optional>

namespace {

using queltor::web::TokenStore;

enum Status { kDone = 0, kFailed = 1, kUsage = 2 };

constexpr const char *kDescription = R"(Serves the QUELTOR panel of a settings file to browsers and scripts: a page
for phones and tablets at /, and a JSON API under /api/ (status, select,
scan, stop, events). Every call needs a token made with --add-token.
See queltor-web(1).)";

int say(const QString &text)
{
    std::fprintf(stderr, "queltor-web: %s\n", qUtf8Printable(text));
    return kFailed;
}

int usage(const QString &text)
{
    std::fprintf(stderr, "queltor-web: usage: %s (see queltor-web --help)\n", qUtf8Printable(text));
    return kUsage;
}

int print(const QString &text)
{
    std::fputs(qUtf8Printable(text + QLatin1Char('\n')), stdout);
    return std::fflush(stdout) == 0 ? kDone : kFailed;
}

// "ADDRESS:PORT", an IPv6 address in brackets: "[::1]:8686".
std::optional<std::pair<QHostAddress, quint16>> listenAddress(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt;
    bool number = false;
    const uint port = text.mid(colon + 1).toUInt(&number);
    const QHostAddress address(host);
    if (!number || port > 65535 || address.isNull())
        return std::nullopt;
    return std::make_pair(address, quint16(port));
}

std::optional<QSslConfiguration> tlsSetup(const QString &certificateFile, const QString &keyFile, QString *why)
{
    if (!QSslSocket::supportsSsl()) {
        *why = QStringLiteral("this system's Qt has no TLS backend");
        return std::nullopt;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    if (chain.isEmpty()) {
        *why = QStringLiteral("%1 holds no certificate in PEM form").arg(certificateFile);
        return std::nullopt;
    }
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1 cannot be read: %2").arg(keyFile, file.errorString());
        return std::nullopt;
    }
    const QByteArray pem = file.readAll();
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *why = QStringLiteral("%1 holds no unencrypted private key in PEM form").arg(keyFile);
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

int tokenCommand(const QCommandLineParser &parser, const QCommandLineOption &add, const QCommandLineOption &revoke,
                 TokenStore &tokens)
{
    QString why;
    if (parser.isSet(add)) {
        const QString name = parser.value(add);
        const std::optional<QByteArray> token = tokens.add(name, &why);
        if (!token)
            return say(why);
        // The token alone on the last line, for a script to take.
        print(QStringLiteral("queltor-web: a new token for %1, stored in %2 as its hash only; it is shown "
                             "this once:")
                  .arg(name, tokens.fileName()));
        return print(QString::fromLatin1(*token));
    }
    if (parser.isSet(revoke)) {
        if (!tokens.revoke(parser.value(revoke), &why))
            return say(why);
        return print(QStringLiteral("queltor-web: revoked %1").arg(parser.value(revoke)));
    }
    const std::optional<QStringList> names = tokens.names(&why);
    if (!names)
        return say(why);
    return names->isEmpty() ? kDone : print(names->join(QLatin1Char('\n')));
}

} // namespace

int main(int argc, char *argv[])
{
    // A client gone before its answer is written is the socket's error to
    // handle, never a signal that ends the server.
    queltor::ignoreBrokenPipes();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("queltor-web"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELTOR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this text."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Serve the panel of this settings file (default: "
                                                   "$XDG_CONFIG_HOME/QUELTOR/QUELTOR.conf). The tokens are kept "
                                                   "beside it, in web-tokens."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Listen on this address and port (default: 127.0.0.1:8686)."),
                                    QStringLiteral("ADDRESS:PORT"), QStringLiteral("127.0.0.1:8686"));
    const QCommandLineOption certificate(QStringLiteral("tls-cert"),
                                         QStringLiteral("Serve HTTPS with this certificate (PEM, with its chain)."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption key(QStringLiteral("tls-key"),
                                 QStringLiteral("The certificate's private key (PEM, unencrypted)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption insecure(QStringLiteral("insecure-http"),
                                      QStringLiteral("Serve plain HTTP on an address other than loopback: tokens "
                                                     "and sessions cross the network readable."));
    const QCommandLineOption add(QStringLiteral("add-token"),
                                 QStringLiteral("Make a token for NAME and print it on the last line, then exit."),
                                 QStringLiteral("NAME"));
    const QCommandLineOption revoke(QStringLiteral("revoke-token"), QStringLiteral("Revoke NAME's token, then exit."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption list(QStringLiteral("list-tokens"), QStringLiteral("Print the tokens' names, then exit."));
    parser.addOptions({help, version, config, listen, certificate, key, insecure, add, revoke, list});

    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        // Named as the user knows it, not by the path it was started with.
        QString text = parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char(' '), 7), QStringLiteral("Usage: queltor-web"));
        std::fputs(qUtf8Printable(text), stdout);
        return std::fflush(stdout) == 0 ? kDone : kFailed;
    }
    if (parser.isSet(version))
        return print(QStringLiteral("queltor-web " QUELTOR_VERSION));
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("queltor-web takes options only"));

    const QString settingsFile = parser.isSet(config) ? queltor::SettingsStore(parser.value(config)).fileName()
                                                      : queltor::SettingsStore().fileName();
    TokenStore tokens(TokenStore::fileBeside(settingsFile));
    const int tokenCommands = int(parser.isSet(add)) + int(parser.isSet(revoke)) + int(parser.isSet(list));
    if (tokenCommands > 1)
        return usage(QStringLiteral("one of --add-token, --revoke-token and --list-tokens at a time"));
    if (tokenCommands == 1)
        return tokenCommand(parser, add, revoke, tokens);

    const std::optional<std::pair<QHostAddress, quint16>> address = listenAddress(parser.value(listen));
    if (!address)
        return usage(QStringLiteral("--listen takes ADDRESS:PORT, such as 127.0.0.1:8686 or [::1]:8686"));
    if (parser.isSet(certificate) != parser.isSet(key))
        return usage(QStringLiteral("--tls-cert and --tls-key go together"));
    queltor::web::WebServer::Setup setup{settingsFile, queltor::panelSocketPath(settingsFile), tokens.fileName(), {}};
    if (parser.isSet(certificate)) {
        QString why;
        setup.tls = tlsSetup(parser.value(certificate), parser.value(key), &why);
        if (!setup.tls)
            return say(why);
    } else if (!address->first.isLoopback()) {
        if (!parser.isSet(insecure))
            return usage(QStringLiteral("%1 is reachable from other machines: serve it with --tls-cert and "
                                        "--tls-key, or say --insecure-http")
                             .arg(address->first.toString()));
        say(QStringLiteral("warning: plain HTTP on %1: tokens and sessions cross the network readable by anyone "
                           "on it")
                .arg(address->first.toString()));
    }

    queltor::web::WebServer server(setup);
    QString why;
    if (!server.listen(address->first, address->second, &why))
        return say(QStringLiteral("cannot listen on %1: %2").arg(parser.value(listen), why));
    const bool v6 = address->first.protocol() == QAbstractSocket::IPv6Protocol;
    const QString host = v6 ? QLatin1Char('[') + address->first.toString() + QLatin1Char(']')
                            : address->first.toString();
    print(QStringLiteral("queltor-web: serving %1://%2:%3/ for the panel of %4")
              .arg(setup.tls ? QStringLiteral("https") : QStringLiteral("http"), host)
              .arg(server.port())
              .arg(settingsFile));

    queltor::ExitSignals exitSignals;
    QObject::connect(&exitSignals, &queltor::ExitSignals::received, &app, [] { QCoreApplication::exit(kDone); });
    return QCoreApplication::exec();
}
