// queltor-ctl: drives the running panel from a script. Everything it prints
// is English, whatever the locale: scripts read it.
#include "link/exit_signals.h"
#include "link/settings_store.h"
#include "remote/panel_request.h"
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
       queltor-ctl watch
       queltor-ctl --help | --version

Drives the QUELTOR panel that runs for this user and settings file; the
panel shows every request as if its own controls had been used.

  select CH    select channel CH, 0 to 99 (7 or 07). With no panel running,
               the command goes to the device directly.
  status       print the panel's state as one line of JSON
  scan         switch the panel to Auto and scan from the start to the end
               channel, one channel every SECONDS (0 to 65.535)
  stop         stop the scan
  watch        print the panel's state as status does, then again each time
               it changes, until interrupted; {"panel":false} when the panel
               ends or none is running
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
    static const struct
    {
        const char *word;
        Request::Verb verb;
    } kBare[] = {{"status", Request::Verb::Status}, {"stop", Request::Verb::Stop}, {"watch", Request::Verb::Watch}};
    for (const auto &bare : kBare) {
        if (command == bare.word) {
            if (argc != 2) {
                *why = "status, stop and watch take nothing more";
                return std::nullopt;
            }
            request.verb = bare.verb;
            return request;
        }
    }
    *why = "the commands are select, status, scan, stop and watch";
    return std::nullopt;
}

int sayFailed(const queltor::remote::Reply &reply) { return say(reply.code.constData(), reply.text); }

// Prints the panel's status as it comes until the panel ends; the exit status.
int watchPanel(const queltor::SettingsStore &store)
{
    using Outcome = queltor::PanelAnswer::Outcome;
    queltor::PanelRequest watch(queltor::panelSocketPath(store.fileName()),
                                Request{Request::Verb::Watch, 0, 0, 0, {}, std::nullopt}, kAnswerMs);
    bool told = false;
    QObject::connect(&watch, &queltor::PanelRequest::answered, [&](const queltor::PanelAnswer &answer) {
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
