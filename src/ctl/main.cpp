// queltor-ctl: drives the running panel from a script. Everything it prints
// is English, whatever the locale: scripts read it.
#include "link/exit_signals.h"
#include "link/settings_store.h"
#include "remote/panel_socket.h"
#include "remote/protocol.h"
#include "remote/select_without_panel.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

using queltor::remote::Request;

constexpr const char *kHelp = R"(Usage: queltor-ctl select CH
       queltor-ctl status
       queltor-ctl scan --start CH --end CH --term SECONDS
       queltor-ctl stop
       queltor-ctl --help | --version

Drives the QUELTOR panel that runs for this user and settings file; the
panel shows every request as if its own controls had been used.

  select CH    select channel CH, 0 to 99 (7 or 07). With no panel running,
               the command goes to the device directly.
  status       print the panel's state as one line of JSON
  scan         switch the panel to Auto and scan from the start to the end
               channel, one channel every SECONDS (0 to 65.535)
  stop         stop the scan
  -h, --help   show this text and exit
  --version    show the version and exit

A failure is one line on standard error, "queltor-ctl: CODE: TEXT".
Exit status: 0 done; 1 refused or failed, and not done (a timeout too);
2 wrong usage; 3 no panel is running (status then prints {"panel":false});
4 the panel started on the request but did not say how it ended, so whether
it was done is not known. See queltor-ctl(1).
)";

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
std::optional<int> channelArgument(const char *text)
{
    const std::size_t length = std::strlen(text);
    if (length < 1 || length > 2)
        return std::nullopt;
    int channel = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        channel = channel * 10 + (text[i] - '0');
    }
    return channel;
}

// The request the arguments ask for; nothing, with why, when they ask for none.
std::optional<Request> requestFor(int argc, char *argv[], const char **why)
{
    const std::string command = argv[1];
    Request request;
    if (command == "select") {
        const std::optional<int> channel = argc == 3 ? channelArgument(argv[2]) : std::nullopt;
        if (!channel) {
            *why = "select takes one channel, 0 to 99";
            return std::nullopt;
        }
        request.verb = Request::Verb::Select;
        request.channel = *channel;
        return request;
    }
    if (command == "scan") {
        std::optional<int> start;
        std::optional<int> end;
        std::optional<QByteArray> term;
        for (int i = 2; i < argc; ++i) {
            std::string option = argv[i];
            std::string value;
            if (const std::size_t equals = option.find('='); equals != std::string::npos) {
                value = option.substr(equals + 1);
                option.resize(equals);
            } else if (i + 1 < argc) {
                value = argv[++i];
            }
            if (option == "--start")
                start = channelArgument(value.c_str());
            else if (option == "--end")
                end = channelArgument(value.c_str());
            else if (option == "--term")
                term = QByteArray::fromStdString(value);
            else {
                *why = "scan takes --start CH, --end CH and --term SECONDS";
                return std::nullopt;
            }
        }
        if (!start || !end || !term) {
            *why = "scan takes --start CH and --end CH, 0 to 99, and --term SECONDS";
            return std::nullopt;
        }
        request = {Request::Verb::Scan, 0, *start, *end, *term, std::nullopt};
        // The term's form is the grammar's: ask it.
        if (!queltor::remote::parseRequest(queltor::remote::requestLine(request).chopped(1))) {
            *why = "--term takes seconds such as 0.5 or 2";
            return std::nullopt;
        }
        return request;
    }
    if ((command == "status" || command == "stop") && argc == 2) {
        request.verb = command == "status" ? Request::Verb::Status : Request::Verb::Stop;
        return request;
    }
    *why = command == "status" || command == "stop" ? "status and stop take nothing more"
                                                    : "the commands are select, status, scan and stop";
    return std::nullopt;
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
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return std::fflush(stdout) == 0 ? kDone : kFailed;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("queltor-ctl " QUELTOR_VERSION "\n", stdout);
            return std::fflush(stdout) == 0 ? kDone : kFailed;
        }
    }
    if (argc < 2)
        return usage("no command given");
    const char *why = nullptr;
    const std::optional<Request> request = requestFor(argc, argv, &why);
    if (!request)
        return usage(why);

    qInstallMessageHandler(quiet);
    QCoreApplication app(argc, argv);
    const queltor::SettingsStore store;
    const queltor::PanelAnswer answer = queltor::askPanel(queltor::panelSocketPath(store.fileName()),
                                                          queltor::remote::requestLine(*request), kAnswerMs);
    switch (answer.outcome) {
    case queltor::PanelAnswer::Outcome::Answered:
        if (!answer.reply.ok())
            return say(answer.reply.code.constData(), answer.reply.text);
        return answer.reply.data.isEmpty() ? kDone : print(answer.reply.data);
    case queltor::PanelAnswer::Outcome::Silent:
        return say("timeout",
                   QStringLiteral("the panel did not take the request within %1 seconds; nothing was done")
                       .arg(kAnswerMs / 1000));
    case queltor::PanelAnswer::Outcome::Unknown:
        say("unknown",
            QStringLiteral("the panel started on the request but did not say how it ended; whether it "
                           "was done is not known (queltor-ctl status shows the panel's state)"));
        return kUnknown;
    case queltor::PanelAnswer::Outcome::Failed:
        return say("socket", QStringLiteral("the panel's socket cannot be used: %1").arg(answer.why));
    case queltor::PanelAnswer::Outcome::NoPanel:
        break;
    }

    switch (request->verb) {
    case Request::Verb::Select: {
        QStringList warnings;
        const queltor::remote::Reply reply = queltor::selectWithoutPanel(store, request->channel, &warnings);
        for (const QString &warning : warnings)
            say("warning", warning);
        return reply.ok() ? kDone : say(reply.code.constData(), reply.text);
    }
    case Request::Verb::Status:
        return print(queltor::remote::noPanelJson()) == kDone ? kNoPanel : kFailed;
    default:
        say("no-panel",
            QStringLiteral("no QUELTOR panel is running for %1; a scan runs only in the panel").arg(store.fileName()));
        return kNoPanel;
    }
}
