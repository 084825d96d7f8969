// queltor-ctl: drives the running panel from a script. Everything it prints
// is English, whatever the locale: scripts read it.
#include "link/exit_signals.h"
#include "link/settings_store.h"
#include "remote/panel_call.h"
#include "remote/panel_socket.h"
#include "remote/protocol.h"
#include "remote/select_without_panel.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <optional>

namespace {

using queltor::remote::Request;

const QCommandLineOption kHelpOption({QStringLiteral("h"), QStringLiteral("help")},
                                     QStringLiteral("Show this text and exit."));
const QCommandLineOption kVersionOption(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
const QCommandLineOption kConfigOption(QStringLiteral("config"),
                                       QStringLiteral("Reach the panel of this settings file, as started with\n"
                                                      "queltor --config FILE; with no panel, select uses its ports."),
                                       QStringLiteral("FILE"));
const QCommandLineOption kStartOption(QStringLiteral("start"), QStringLiteral("scan: the first channel."),
                                      QStringLiteral("CH"));
const QCommandLineOption kEndOption(QStringLiteral("end"), QStringLiteral("scan: the last channel."),
                                    QStringLiteral("CH"));
const QCommandLineOption kTermOption(QStringLiteral("term"), QStringLiteral("scan: seconds per channel, 0 to 65.535."),
                                     QStringLiteral("SECONDS"));

void declare(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("\n"
                       "Drives the QUELTOR panel that runs for this user and settings file; the\n"
                       "panel shows every request as if its own controls had been used.\n"
                       "\n"
                       "Commands:\n"
                       "  select CH    select channel CH, 0 to 99 (7 or 07). With no panel running,\n"
                       "               the command goes to the device directly.\n"
                       "  status       print the panel's state as one line of JSON\n"
                       "  scan         switch the panel to Auto and scan from the start to the end\n"
                       "               channel, one channel every SECONDS (0 to 65.535)\n"
                       "  stop         stop the scan\n"
                       "  watch        print the panel's state as status does, then again each time\n"
                       "               it changes, until interrupted; {\"panel\":false} when the panel\n"
                       "               ends or none is running"));
    parser.addOptions({kHelpOption, kVersionOption, kConfigOption, kStartOption, kEndOption, kTermOption});
}

QString helpText()
{
    QCommandLineParser parser;
    declare(parser);
    const QString generated = parser.helpText();
    return QStringLiteral("Usage: queltor-ctl [--config FILE] select CH\n"
                          "       queltor-ctl [--config FILE] status\n"
                          "       queltor-ctl [--config FILE] scan --start CH --end CH --term SECONDS\n"
                          "       queltor-ctl [--config FILE] stop\n"
                          "       queltor-ctl [--config FILE] watch\n"
                          "       queltor-ctl --help | --version")
        + generated.mid(generated.indexOf(QLatin1Char('\n')))
        + QStringLiteral("\n"
                         "A failure is one line on standard error, \"queltor-ctl: CODE: TEXT\".\n"
                         "Exit status: 0 done; 1 refused or failed, and not done (a timeout too);\n"
                         "2 wrong usage; 3 no panel is running (status then prints {\"panel\":false});\n"
                         "4 the panel started on the request but did not say how it ended, so whether\n"
                         "it was done is not known. See queltor-ctl(1).\n");
}

// The panel starts on a request within this or not at all: it takes a port
// write and a repaint, and a panel slower than this is stuck.
constexpr int kAnswerMs = 5000;

enum Status { kDone = 0, kFailed = 1, kUsage = 2, kNoPanel = 3, kUnknown = 4 };

int say(const char *code, const QString &text)
{
    std::fprintf(stderr, "queltor-ctl: %s: %s\n", code, text.toUtf8().constData());
    return kFailed;
}

int usage(const char *text)
{
    std::fprintf(stderr, "queltor-ctl: usage: %s (see queltor-ctl --help)\n", text);
    return kUsage;
}

int print(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? kDone : kFailed;
}

// "7" or "07".
std::optional<int> channelArgument(const QString &text)
{
    if (text.size() < 1 || text.size() > 2)
        return std::nullopt;
    int channel = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        channel = channel * 10 + c.digitValue();
    }
    return channel;
}

// The request the parsed arguments ask for; nothing, with why, when they ask for none.
std::optional<Request> requestFor(const QCommandLineParser &parser, const char **why)
{
    const QStringList words = parser.positionalArguments();
    const QString command = words.value(0);
    const bool scanOptions = parser.isSet(kStartOption) || parser.isSet(kEndOption) || parser.isSet(kTermOption);
    Request request;
    if (command != QLatin1String("scan") && scanOptions) {
        *why = "--start, --end and --term belong to scan";
        return std::nullopt;
    }
    if (command == QLatin1String("select")) {
        const std::optional<int> channel = words.size() == 2 ? channelArgument(words.at(1)) : std::nullopt;
        if (!channel) {
            *why = "select takes one channel, 0 to 99";
            return std::nullopt;
        }
        request.verb = Request::Verb::Select;
        request.channel = *channel;
        return request;
    }
    if (command == QLatin1String("scan")) {
        const std::optional<int> start = channelArgument(parser.value(kStartOption));
        const std::optional<int> end = channelArgument(parser.value(kEndOption));
        if (words.size() != 1 || !start || !end || !parser.isSet(kTermOption)) {
            *why = "scan takes --start CH and --end CH, 0 to 99, and --term SECONDS";
            return std::nullopt;
        }
        request = {Request::Verb::Scan, 0, *start, *end, parser.value(kTermOption).toUtf8(), std::nullopt};
        // The term's form is the grammar's: ask it.
        if (!queltor::remote::parseRequest(queltor::remote::requestLine(request).chopped(1))) {
            *why = "--term takes seconds such as 0.5 or 2";
            return std::nullopt;
        }
        return request;
    }
    const bool bare = command == QLatin1String("status") || command == QLatin1String("stop")
        || command == QLatin1String("watch");
    if (bare && words.size() == 1) {
        request.verb = command == QLatin1String("status") ? Request::Verb::Status
            : command == QLatin1String("stop")            ? Request::Verb::Stop
                                                          : Request::Verb::Watch;
        return request;
    }
    *why = bare             ? "status, stop and watch take nothing more"
        : command.isEmpty() ? "no command given"
                            : "the commands are select, status, scan, stop and watch";
    return std::nullopt;
}

int sayFailed(const queltor::remote::Reply &reply) { return say(reply.code.constData(), reply.text); }

// Prints the panel's status as it comes until the panel ends; the exit status.
int watchPanel(const queltor::SettingsStore &store)
{
    using Outcome = queltor::PanelAnswer::Outcome;
    queltor::PanelCall watch(queltor::panelSocketPath(store.fileName()),
                             Request{Request::Verb::Watch, 0, 0, 0, {}, std::nullopt}, kAnswerMs);
    bool told = false;
    QObject::connect(&watch, &queltor::PanelCall::answered, [&](const queltor::PanelAnswer &answer) {
        if (answer.outcome == Outcome::Answered && answer.reply.ok()) {
            told = true;
            if (print(answer.reply.data) != kDone)
                QCoreApplication::exit(kFailed);
            return;
        }
        // Ended after it was told something, or taken and ended before the
        // first status (a watch changes nothing, so that is all it means), or
        // never begun for want of a panel: no panel now.
        if ((answer.outcome == Outcome::Failed && told) || answer.outcome == Outcome::Unknown
            || answer.outcome == Outcome::NoPanel)
            QCoreApplication::exit(print(queltor::remote::noPanelJson()) == kDone ? kNoPanel : kFailed);
        else
            QCoreApplication::exit(sayFailed(answer.result(kAnswerMs, store.fileName())));
    });
    return QCoreApplication::exec();
}

// Qt's own remarks (a missing runtime folder, say) would spoil the one line a script reads.
void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "queltor-ctl: internal: %s\n", message.toUtf8().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    queltor::ignoreBrokenPipes();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    declare(parser);
    if (!parser.parse(arguments)) {
        QString why = parser.errorText();
        if (why.endsWith(QLatin1Char('.')))
            why.chop(1);
        return usage(why.toUtf8().constData());
    }
    if (parser.isSet(kHelpOption) || parser.isSet(kVersionOption)) {
        const QByteArray text = parser.isSet(kHelpOption) ? helpText().toUtf8()
                                                          : QByteArray("queltor-ctl " QUELTOR_VERSION "\n");
        std::fputs(text.constData(), stdout);
        return std::fflush(stdout) == 0 ? kDone : kFailed;
    }
    if (parser.isSet(kConfigOption) && parser.value(kConfigOption).isEmpty())
        return usage("--config needs a file name");
    const char *why = nullptr;
    const std::optional<Request> request = requestFor(parser, &why);
    if (!request)
        return usage(why);

    qInstallMessageHandler(quiet);
    QCoreApplication app(argc, argv);
    const queltor::SettingsStore store = parser.isSet(kConfigOption)
        ? queltor::SettingsStore(parser.value(kConfigOption))
        : queltor::SettingsStore();
    if (request->verb == Request::Verb::Watch)
        return watchPanel(store);
    const queltor::PanelAnswer answer = queltor::askPanel(queltor::panelSocketPath(store.fileName()),
                                                          queltor::remote::requestLine(*request), kAnswerMs);
    if (answer.outcome != queltor::PanelAnswer::Outcome::NoPanel) {
        const queltor::remote::Reply reply = answer.result(kAnswerMs, store.fileName());
        if (answer.outcome == queltor::PanelAnswer::Outcome::Unknown) {
            say(reply.code.constData(), reply.text + QStringLiteral(" (queltor-ctl status shows the panel's state)"));
            return kUnknown;
        }
        if (!reply.ok())
            return sayFailed(reply);
        return reply.data.isEmpty() ? kDone : print(reply.data);
    }

    switch (request->verb) {
    case Request::Verb::Select: {
        QStringList warnings;
        const queltor::remote::Reply reply = queltor::selectWithoutPanel(store, request->channel, &warnings);
        for (const QString &warning : warnings)
            say("warning", warning);
        return reply.ok() ? kDone : sayFailed(reply);
    }
    case Request::Verb::Status:
        return print(queltor::remote::noPanelJson()) == kDone ? kNoPanel : kFailed;
    default: {
        const queltor::remote::Reply noPanel = answer.result(kAnswerMs, store.fileName());
        say(noPanel.code.constData(), noPanel.text + QStringLiteral("; a scan runs only in the panel"));
        return kNoPanel;
    }
    }
}
