// The real window taking scripts' requests on its real socket, as main() wires
// it, on a pseudo-terminal: what reaches the wire and the window, what comes
// back, and clients that are wrong, slow, many or strangers.
#include "panel.h"

#include "remote/control_server.h"
#include "remote/local_socket.h"
#include "remote/panel_call.h"
#include "remote/panel_socket.h"
#include "shell/panel_requests.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSignalSpy>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace queltor;

namespace {

// The panel with its socket in a private runtime folder.
class ScriptedPanel : public Panel
{
public:
    ScriptedPanel() { qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit()); }

    frmMain &startServing()
    {
        start();
        if (server.start(socketPath()) != ControlServer::Outcome::Serving)
            qFatal("the panel could not take its socket");
        requests = std::make_unique<PanelRequests>(*window);
        server.setHandler([this](const remote::Request &request) { return requests->answer(request); });
        QObject::connect(requests.get(), &PanelRequests::statusChanged, &server, &ControlServer::statusChanged);
        return *window;
    }

    QString socketPath() const { return panelSocketPath(config.fileName()); }

    // A plain client socket, connected and not blocking.
    UniqueFd connectClient() const
    {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const std::optional<sockaddr_un> address = socketAddress(socketPath());
        if (!address || ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&*address), sizeof *address) != 0)
            qFatal("cannot connect: %s", strerror(errno));
        return fd;
    }

    // Runs the event loop until the panel has closed every client, and
    // returns what each was sent.
    static QList<QByteArray> repliesTo(const std::vector<UniqueFd> &open)
    {
        QList<QByteArray> replies(qsizetype(open.size()));
        QList<bool> closed(qsizetype(open.size()), false);
        const QDeadlineTimer deadline(20000);
        while (closed.contains(false) && !deadline.hasExpired()) {
            QTest::qWait(2);
            for (qsizetype i = 0; i < replies.size(); ++i) {
                char chunk[4096];
                const ssize_t n = closed[i] ? 0 : ::recv(open[std::size_t(i)].get(), chunk, sizeof chunk, 0);
                if (n > 0)
                    replies[i].append(chunk, n);
                else if (n == 0 || errno != EAGAIN)
                    closed[i] = true;
            }
        }
        return replies;
    }

    // Whether the panel has neither written to the client nor closed it.
    static bool waiting(const UniqueFd &client)
    {
        char byte = 0;
        return ::recv(client.get(), &byte, 1, MSG_PEEK) < 0 && errno == EAGAIN;
    }

    // Sends bytes as a client would, as many as the panel takes, and returns
    // what it wrote back before it closed the connection.
    QByteArray exchange(const QByteArray &bytes)
    {
        const UniqueFd fd = connectClient();
        qsizetype sent = 0;
        QByteArray got;
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (sent < bytes.size()) {
                const ssize_t n = ::send(fd.get(), bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
                if (n > 0)
                    sent += n;
                else if (errno != EAGAIN)
                    sent = bytes.size(); // the panel has closed its end
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd.get(), chunk, sizeof chunk, 0);
            if (n > 0)
                got.append(chunk, n);
            else if (n == 0 || errno != EAGAIN)
                break;
        }
        return got;
    }
    QByteArray ask(const QByteArray &line) { return exchange(line + '\n'); }

    // A client that has sent watch, once the panel has taken it.
    UniqueFd watcher()
    {
        UniqueFd fd = connectClient();
        if (::send(fd.get(), "watch\n", 6, MSG_NOSIGNAL) != 6)
            qFatal("cannot send watch");
        const int before = server.watcherCount();
        if (!QTest::qWaitFor([&] { return server.watcherCount() > before; }, 5000))
            qFatal("the panel took no watcher");
        return fd;
    }

    // The lines that arrive on fd within quietMs of silence, without their line ends.
    static QList<QByteArray> linesFrom(const UniqueFd &fd, int quietMs = 100)
    {
        QByteArray got;
        QDeadlineTimer quiet(quietMs);
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            char chunk[4096];
            const ssize_t n = ::recv(fd.get(), chunk, sizeof chunk, 0);
            if (n > 0) {
                got.append(chunk, n);
                quiet.setRemainingTime(quietMs);
            } else if (n == 0 || errno != EAGAIN) {
                break;
            }
        } while (!quiet.hasExpired());
        QList<QByteArray> lines = got.split('\n');
        lines.removeLast(); // after the last line end
        return lines;
    }

    QJsonObject status()
    {
        const QByteArray reply = ask("status");
        if (!reply.startsWith("ok {") || !reply.endsWith("}\n"))
            qFatal("status answered %s", reply.constData());
        return QJsonDocument::fromJson(reply.mid(3)).object();
    }

    QTemporaryDir runtime;
    ControlServer server;
    std::unique_ptr<PanelRequests> requests;
};

// What the window shows, as status should report it.
QJsonObject shown(const ScriptedPanel &panel)
{
    const auto checked = [&panel](const char *name) {
        return panel.child<QRadioButton>(QLatin1String(name))->isChecked();
    };
    const bool scanning = panel.startStop()->text() == QStringLiteral("Stop Scan") && checked("optAuto");
    return {
        {QStringLiteral("panel"), true},
        {QStringLiteral("port"), QStringLiteral("COM%1").arg(panel.window->port().commPort())},
        {QStringLiteral("device"),
         panel.window->port().commPort() == 1 ? panel.com1.slavePath() : panel.com2.slavePath()},
        {QStringLiteral("connected"), panel.window->port().portOpen()},
        {QStringLiteral("mode"), checked("optAuto") ? QStringLiteral("auto") : QStringLiteral("manual")},
        {QStringLiteral("channel"), panel.display()->text().toInt()},
        {QStringLiteral("bank"), panel.window->channelCount()},
        {QStringLiteral("scanning"), scanning},
        {QStringLiteral("scan_start"), panel.startList()->currentText().toInt()},
        {QStringLiteral("scan_end"), panel.endList()->currentText().toInt()},
        {QStringLiteral("scan_term"), panel.term()->text().toDouble()},
    };
}

enum class Before { Nothing, AutoIdle, ScanStarted, DeviceGone, PortMissing, PortHeld };

enum class Change { Click, Bank, StartList, Term, Auto, ScanRequest, DeviceGone };

} // namespace

Q_DECLARE_METATYPE(Before)
Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(PanelAnswer::Outcome)

class TestScripting : public QObject
{
    Q_OBJECT
private slots:
    void selectIsAClick_data();
    void selectIsAClick();
    void failuresComeBackAndLeaveNoBox_data();
    void failuresComeBackAndLeaveNoBox();
    void statusMatchesTheWindow_data();
    void statusMatchesTheWindow();
    void scanRunsAsStartScanAndStops();
    void scanRefusalsChangeNothing_data();
    void scanRefusalsChangeNothing();
    void raiseBringsTheWindowForward();

    void watchersHearEachChangeOnce_data();
    void watchersHearEachChangeOnce();
    void aWatcherThatDoesNotReadIsDropped();
    void watchersHaveTheirOwnLimit();
    void requestsWithoutBlocking_data();
    void requestsWithoutBlocking();

    void doneOnlyForAClientStillWaiting_data();
    void doneOnlyForAClientStillWaiting();
    void watchKeepsTheDeadlineRule_data();
    void watchKeepsTheDeadlineRule();
    void wrongRequestsAreRefused_data();
    void wrongRequestsAreRefused();
    void tenClientsAtOnce();
    void silentClientsNeitherStallNorStay();

    void socketIsTheUsersAlone();
    void leftoversOfAKilledPanelAreTakenOver_data();
    void leftoversOfAKilledPanelAreTakenOver();
    void panelsOfDifferentSettingsFilesDoNotMeet();
    void socketPathTooLongIsRefusedNotCut();
};

void TestScripting::selectIsAClick_data()
{
    QTest::addColumn<Before>("before");
    QTest::addColumn<int>("channel");
    QTest::newRow("Manual") << Before::Nothing << 7;
    QTest::newRow("Auto, no scan: back to Manual") << Before::AutoIdle << 19;
}

void TestScripting::selectIsAClick()
{
    QFETCH(Before, before);
    QFETCH(int, channel);
    ScriptedPanel panel;
    panel.startServing();
    if (before == Before::AutoIdle)
        panel.chooseAuto();

    QCOMPARE(panel.ask(QStringLiteral("select %1").arg(channel, 2, 10, QLatin1Char('0')).toLatin1()),
             QByteArray("ok\n"));
    QCOMPARE(panel.com1.readAll(), commands({channel}));
    QCOMPARE(panel.display()->text(), QStringLiteral("%1").arg(channel, 2, 10, QLatin1Char('0')));
    QCOMPARE(panel.boldButtons(), QList<int>{channel});
    QVERIFY(panel.child<QRadioButton>(QStringLiteral("optMan"))->isChecked());
    QVERIFY(panel.button(channel)->isEnabled());
    QCOMPARE(panel.messages.count(), 0);
}

void TestScripting::failuresComeBackAndLeaveNoBox_data()
{
    QTest::addColumn<Before>("before");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // how it begins

    QTest::newRow("outside the bank") << Before::Nothing << QByteArray("select 20")
                                      << QByteArray(
                                             "error channel channel 20 is not in the bank of 20 channels, 00 to 19\n");
    QTest::newRow("device gone") << Before::DeviceGone << QByteArray("select 07")
                                 << QByteArray("error port COM1 (/dev/pts/");
    // The reason the window gave when the port would not open.
    QTest::newRow("port not open: missing")
        << Before::PortMissing << QByteArray("select 07")
        << QByteArray("error port COM1 (/nowhere/COM1) could not be written to: the port is not open: the device does "
                      "not exist.\n");
    QTest::newRow("port not open: held, as by a second panel")
        << Before::PortHeld << QByteArray("select 07")
        << QStringLiteral(
               "error port COM1 (%1) could not be written to: the port is not open: in use by test_scripting "
               "(PID %2).\n")
               .arg(QStringLiteral("/dev/pts/"))
               .arg(QCoreApplication::applicationPid())
               .toUtf8();
    QTest::newRow("scan running") << Before::ScanStarted << QByteArray("select 07")
                                  << QByteArray("error scan a scan is running; stop it first\n");
}

void TestScripting::failuresComeBackAndLeaveNoBox()
{
    QFETCH(Before, before);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    ScriptedPanel panel;
    if (before == Before::PortMissing)
        panel.config.mapPort(1, QStringLiteral("/nowhere/COM1"));
    const SettingsStore store;
    SerialPort holder(store);
    if (before == Before::PortHeld) {
        holder.setPortOpen(true);
        reply.replace("/dev/pts/", QFile::encodeName(panel.com1.slavePath()));
    }
    panel.startServing();
    panel.messages.clear(); // the missing port's, at start-up
    if (before == Before::DeviceGone) {
        // The unplug is told once, by itself, before any request comes.
        panel.com1.closeMaster();
        QTRY_COMPARE(panel.messages.count(), 1);
        panel.messages.clear();
    }
    if (before == Before::ScanStarted) {
        panel.chooseAuto();
        panel.setUp(0, 9, QStringLiteral("60"));
        panel.pressStartStop();
    }

    const QByteArray answer = panel.ask(request);
    QVERIFY2(answer.startsWith(reply), answer.constData());
    QVERIFY(answer.endsWith('\n') && answer.count('\n') == 1);
    QCOMPARE(panel.com1.readAll(), QByteArray());
    QCOMPARE(panel.display()->text(), QStringLiteral("00"));
    QCOMPARE(panel.boldButtons(), QList<int>{});
    QTest::qWait(20); // a box would be opened from the event loop
    QCOMPARE(panel.messages.count(), 0);
    // The window's own failures still show, and the script's is not among them.
    if (before == Before::DeviceGone) {
        panel.click(3);
        QTRY_COMPARE(panel.messages.count(), 1);
        QCOMPARE(panel.messages.lastText().count(QStringLiteral("could not be written")), 1);
    }
}

void TestScripting::statusMatchesTheWindow_data()
{
    QTest::addColumn<Before>("before");
    QTest::addColumn<QByteArray>("status"); // {com1} and {com2} the ptys
    QTest::newRow("as started") << Before::Nothing
                                << QByteArray(R"({"bank":20,"channel":0,"connected":true,"device":"{com1}",)"
                                              R"("mode":"manual","panel":true,"port":"COM1","scan_end":19,)"
                                              R"("scan_start":0,"scan_term":1,"scanning":false})");
    QTest::newRow("selected, COM2, 40 channels")
        << Before::AutoIdle
        << QByteArray(R"({"bank":40,"channel":33,"connected":true,"device":"{com2}","mode":"auto","panel":true,)"
                      R"("port":"COM2","scan_end":30,"scan_start":5,"scan_term":2.5,"scanning":false})");
    QTest::newRow("scanning") << Before::ScanStarted
                              << QByteArray(R"({"bank":20,"channel":2,"connected":true,"device":"{com1}",)"
                                            R"("mode":"auto","panel":true,"port":"COM1","scan_end":2,)"
                                            R"("scan_start":2,"scan_term":0.05,"scanning":true})");
    QTest::newRow("port missing") << Before::PortMissing
                                  << QByteArray(R"({"bank":20,"channel":0,"connected":false,)"
                                                R"("device":"/nowhere/COM1","mode":"manual","panel":true,)"
                                                R"("port":"COM1","scan_end":19,"scan_start":0,"scan_term":1,)"
                                                R"("scanning":false})");
}

// Status says what was done to the window, and every change is told with it.
void TestScripting::statusMatchesTheWindow()
{
    QFETCH(Before, before);
    QFETCH(QByteArray, status);
    ScriptedPanel panel;
    if (before == Before::PortMissing)
        panel.config.mapPort(1, QStringLiteral("/nowhere/COM1"));
    panel.startServing();
    QSignalSpy told(panel.requests.get(), &PanelRequests::statusChanged);
    if (before == Before::AutoIdle) {
        panel.choose(QStringLiteral("mnuCom2"));
        panel.choose(QStringLiteral("mnuChNum(3)"));
        panel.click(33);
        panel.chooseAuto();
        panel.setUp(5, 30, QStringLiteral("2.5"));
    }
    if (before == Before::ScanStarted) {
        panel.chooseAuto();
        panel.setUp(2, 2, QStringLiteral("0.05"));
        panel.pressStartStop();
        QCOMPARE(panel.com1.read(5, 2000), commands({2}));
    }
    status.replace("{com1}", panel.com1.slavePath().toUtf8()).replace("{com2}", panel.com2.slavePath().toUtf8());
    QCOMPARE(panel.ask("status"), "ok " + status + '\n');
    if (before == Before::AutoIdle || before == Before::ScanStarted)
        QCOMPARE(remote::statusJson(told.constLast().at(0).value<remote::PanelStatus>()), status);
    QCOMPARE(panel.messages.count(), before == Before::PortMissing ? 1 : 0);
}

void TestScripting::scanRunsAsStartScanAndStops()
{
    ScriptedPanel panel;
    panel.startServing();
    QCOMPARE(panel.ask("scan 03 05 0.02"), QByteArray("ok\n"));
    QVERIFY(panel.child<QRadioButton>(QStringLiteral("optAuto"))->isChecked());
    QCOMPARE(panel.startList()->currentText(), QStringLiteral("3"));
    QCOMPARE(panel.endList()->currentText(), QStringLiteral("5"));
    QCOMPARE(panel.term()->text(), QStringLiteral("0.02"));
    QCOMPARE(panel.startStop()->text(), QStringLiteral("Stop Scan"));
    QVERIFY(!panel.term()->isEnabled());
    QCOMPARE(panel.com1.read(20, 2000), commands({3, 4, 5, 3}));

    QCOMPARE(panel.ask("stop"), QByteArray("ok\n"));
    QCOMPARE(panel.startStop()->text(), QStringLiteral("Start Scan"));
    QVERIFY(!panel.timer()->isActive());
    panel.com1.drain();
    QCOMPARE(panel.com1.readAll(200), QByteArray());
    QCOMPARE(panel.ask("stop"), QByteArray("ok\n"));
    QCOMPARE(panel.messages.count(), 0);
}

void TestScripting::scanRefusalsChangeNothing_data()
{
    QTest::addColumn<Before>("before");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("end below start") << Before::Nothing << QByteArray("scan 09 03 1")
                                     << QByteArray("error scan the end channel 03 is below the start channel 09\n");
    QTest::newRow("term too long") << Before::Nothing << QByteArray("scan 03 09 65.536")
                                   << QByteArray("error scan the term 65.536 is not between 0 and 65.535 seconds\n");
    QTest::newRow("term below 0") << Before::Nothing << QByteArray("scan 03 09 -1")
                                  << QByteArray("error scan the term -1 is not between 0 and 65.535 seconds\n");
    QTest::newRow("end outside the bank")
        << Before::Nothing << QByteArray("scan 03 20 1")
        << QByteArray("error channel channel 20 is not in the bank of 20 channels, 00 to 19\n");
    QTest::newRow("started already") << Before::ScanStarted << QByteArray("scan 01 02 1")
                                     << QByteArray("error scan a scan is started already; stop it first\n");
}

void TestScripting::scanRefusalsChangeNothing()
{
    QFETCH(Before, before);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    ScriptedPanel panel;
    panel.startServing();
    if (before == Before::ScanStarted) {
        panel.chooseAuto();
        panel.setUp(4, 6, QStringLiteral("60"));
        panel.pressStartStop();
    }
    const QJsonObject was = shown(panel);
    const bool wasManual = panel.child<QRadioButton>(QStringLiteral("optMan"))->isChecked();

    QCOMPARE(panel.ask(request), reply);
    QCOMPARE(shown(panel), was);
    QCOMPARE(panel.child<QRadioButton>(QStringLiteral("optMan"))->isChecked(), wasManual);
    QCOMPARE(panel.startStop()->text(),
             before == Before::ScanStarted ? QStringLiteral("Stop Scan") : QStringLiteral("Start Scan"));
    QCOMPARE(panel.com1.readAll(), QByteArray());
    QCOMPARE(panel.messages.count(), 0);
}

void TestScripting::raiseBringsTheWindowForward()
{
    ScriptedPanel panel;
    panel.startServing();
    QWidget other;
    other.show();
    other.activateWindow();
    panel.window->showMinimized();
    QTRY_VERIFY(other.isActiveWindow());

    QCOMPARE(panel.ask("raise"), QByteArray("ok\n"));
    QTRY_VERIFY(panel.window->isActiveWindow());
    QVERIFY(!panel.window->isMinimized());
    QCOMPARE(panel.com1.readAll(), QByteArray());
}

void TestScripting::watchersHearEachChangeOnce_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QJsonValue>("value");
    QTest::newRow("click") << Change::Click << "channel" << QJsonValue(5);
    QTest::newRow("bank") << Change::Bank << "bank" << QJsonValue(40);
    QTest::newRow("start list") << Change::StartList << "scan_start" << QJsonValue(3);
    QTest::newRow("term field") << Change::Term << "scan_term" << QJsonValue(2.5);
    QTest::newRow("Auto") << Change::Auto << "mode" << QJsonValue(QStringLiteral("auto"));
    QTest::newRow("scan by a script") << Change::ScanRequest << "scanning" << QJsonValue(true);
    QTest::newRow("device gone") << Change::DeviceGone << "connected" << QJsonValue(false);
}

void TestScripting::watchersHearEachChangeOnce()
{
    QFETCH(Change, change);
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);
    ScriptedPanel panel;
    panel.startServing();
    const UniqueFd watcher = panel.watcher();
    const QList<QByteArray> first = ScriptedPanel::linesFrom(watcher);
    QCOMPARE(first.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(first[0].mid(3)).object(), panel.status());

    switch (change) {
    case Change::Click:
        panel.click(5);
        break;
    case Change::Bank:
        panel.choose(QStringLiteral("mnuChNum(3)"));
        break;
    case Change::StartList:
        panel.startList()->setCurrentIndex(3);
        break;
    case Change::Term:
        panel.term()->setText(QStringLiteral("2.5"));
        break;
    case Change::Auto:
        panel.chooseAuto();
        break;
    case Change::ScanRequest:
        QCOMPARE(panel.ask("scan 02 04 60"), QByteArray("ok\n"));
        break;
    case Change::DeviceGone:
        panel.com1.closeMaster();
        break;
    }
    // One line for the change, however many steps it took, and the same status is not told twice.
    const QList<QByteArray> next = ScriptedPanel::linesFrom(watcher, 300);
    QCOMPARE(next.size(), 1);
    QVERIFY2(next[0].startsWith("ok {"), next[0].constData());
    const QJsonObject told = QJsonDocument::fromJson(next[0].mid(3)).object();
    QCOMPARE(told[field], value);
    QCOMPARE(told, panel.status());
}

void TestScripting::aWatcherThatDoesNotReadIsDropped()
{
    ScriptedPanel panel;
    panel.startServing();
    const UniqueFd stalled = panel.watcher();
    const UniqueFd reading = panel.watcher();
    // Far more changes than the socket and the backlog hold; the window never waits for the watcher.
    int clicks = 0;
    QByteArray wire;
    for (; clicks < 5000 && panel.server.watcherCount() == 2; ++clicks) {
        panel.click(1 + clicks % 2);
        QCoreApplication::processEvents();
        ScriptedPanel::linesFrom(reading, 0);
        panel.com1.drainInto(wire);
    }
    QCOMPARE(panel.server.watcherCount(), 1);
    QVERIFY2(clicks > 50, qPrintable(QString::number(clicks)));
    panel.com1.drainInto(wire);
    QCOMPARE(wire.size(), qsizetype(clicks) * 5);
    // What the stalled one had got ends with the connection closed; the other goes on.
    char chunk[65536];
    while (::recv(stalled.get(), chunk, sizeof chunk, 0) > 0) {
    }
    QCOMPARE(::recv(stalled.get(), chunk, sizeof chunk, 0), ssize_t(0));
    panel.click(9);
    QVERIFY(ScriptedPanel::linesFrom(reading).last().contains("\"channel\":9,"));
    QCOMPARE(panel.messages.count(), 0);
}

void TestScripting::watchersHaveTheirOwnLimit()
{
    ScriptedPanel panel;
    panel.startServing();
    std::vector<UniqueFd> watchers;
    for (int i = 0; i < ControlServer::kMaxWatchers; ++i)
        watchers.push_back(panel.watcher());
    QCOMPARE(panel.server.clientCount(), 0);
    QCOMPARE(panel.ask("watch"), QByteArray("error busy too many watchers at once; try again\n"));
    // Requests are served all the same.
    QCOMPARE(panel.ask("select 06"), QByteArray("ok\n"));
    QCOMPARE(panel.com1.readAll(), commands({6}));
    // A watcher that hangs up makes room.
    watchers.pop_back();
    QTRY_COMPARE(panel.server.watcherCount(), ControlServer::kMaxWatchers - 1);
    watchers.push_back(panel.watcher());
    QCOMPARE(panel.server.watcherCount(), ControlServer::kMaxWatchers);
}

void TestScripting::requestsWithoutBlocking_data()
{
    QTest::addColumn<QString>("listener");
    QTest::addColumn<PanelAnswer::Outcome>("outcome");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("panel") << "panel" << PanelAnswer::Outcome::Answered << commands({3});
    QTest::newRow("nobody") << "nobody" << PanelAnswer::Outcome::NoPanel << QByteArray();
    QTest::newRow("a listener that never answers") << "silent" << PanelAnswer::Outcome::Silent << QByteArray();
}

void TestScripting::requestsWithoutBlocking()
{
    QFETCH(QString, listener);
    QFETCH(PanelAnswer::Outcome, outcome);
    QFETCH(QByteArray, wire);
    ScriptedPanel panel;
    UniqueFd silent;
    if (listener == QLatin1String("panel")) {
        panel.startServing();
    } else if (listener == QLatin1String("silent")) {
        silent = UniqueFd(::socket(AF_UNIX, SOCK_STREAM, 0));
        const std::optional<sockaddr_un> address = socketAddress(panel.socketPath());
        QVERIFY(::bind(silent.get(), reinterpret_cast<const sockaddr *>(&*address), sizeof *address) == 0);
        QVERIFY(::listen(silent.get(), 4) == 0);
    }
    PanelCall request(panel.socketPath(), *remote::parseRequest("select 03"), 300);
    QList<PanelAnswer> answers;
    connect(&request, &PanelCall::answered, this, [&answers](const PanelAnswer &answer) { answers << answer; });
    QCOMPARE(answers.size(), 0); // never before the event loop runs
    QTRY_COMPARE(answers.size(), 1);
    QTest::qWait(400); // and once only
    QCOMPARE(answers.size(), 1);
    QCOMPARE(answers[0].outcome, outcome);
    QCOMPARE(answers[0].reply.ok(), true);
    QCOMPARE(panel.com1.readAll(), wire);
}

void TestScripting::doneOnlyForAClientStillWaiting_data()
{
    QTest::addColumn<int>("deadlineInMs"); // from when the request is sent; 0: none given
    QTest::addColumn<int>("busyMs");       // the window's loop is held this long before the panel reads it
    QTest::addColumn<bool>("clientGone");  // the client closes its end once the request is sent
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("before its deadline") << 20000 << 0 << false << QByteArray("taken\nok\n");
    QTest::newRow("deadline passed while the panel was busy")
        << 100 << 400 << false
        << QByteArray("error timeout the request's deadline passed before the panel could act on it; nothing was "
                      "done\n");
    QTest::newRow("client gone, no deadline") << 0 << 200 << true << QByteArray();
    QTest::newRow("client gone before its deadline") << 20000 << 200 << true << QByteArray();
}

// A script that has stopped waiting is told its request was not done: so it must not be.
void TestScripting::doneOnlyForAClientStillWaiting()
{
    QFETCH(int, deadlineInMs);
    QFETCH(int, busyMs);
    QFETCH(bool, clientGone);
    QFETCH(QByteArray, reply);
    ScriptedPanel panel;
    panel.startServing();
    std::vector<UniqueFd> client;
    client.push_back(panel.connectClient());
    QByteArray line("select 07");
    if (deadlineInMs > 0)
        line += " deadline=" + QByteArray::number(remote::monotonicMs() + deadlineInMs);
    line += '\n';
    QCOMPARE(::send(client.front().get(), line.constData(), size_t(line.size()), MSG_NOSIGNAL), ssize_t(line.size()));
    QThread::msleep(static_cast<unsigned long>(busyMs));
    if (clientGone) {
        client.front().reset();
        QTest::qWait(100);
    } else {
        QCOMPARE(ScriptedPanel::repliesTo(client).constFirst(), reply);
    }
    QCOMPARE(panel.com1.readAll(), reply.endsWith("ok\n") ? commands({7}) : QByteArray());
    QCOMPARE(panel.display()->text(), reply.endsWith("ok\n") ? QStringLiteral("07") : QStringLiteral("00"));
}

void TestScripting::watchKeepsTheDeadlineRule_data()
{
    QTest::addColumn<int>("deadlineInMs"); // as above
    QTest::addColumn<int>("busyMs");
    QTest::addColumn<QByteArray>("begins"); // what the watch is told first
    QTest::addColumn<int>("watchers");

    QTest::newRow("no deadline") << 0 << 0 << QByteArray("ok {") << 1;
    QTest::newRow("before its deadline") << 20000 << 0 << QByteArray("taken\nok {") << 1;
    QTest::newRow("deadline passed while the panel was busy") << 100 << 400 << QByteArray("error timeout ") << 0;
}

// A watch changes nothing, yet a client that gave up on it gets no stream either.
void TestScripting::watchKeepsTheDeadlineRule()
{
    QFETCH(int, deadlineInMs);
    QFETCH(int, busyMs);
    QFETCH(QByteArray, begins);
    QFETCH(int, watchers);
    ScriptedPanel panel;
    panel.startServing();
    const UniqueFd client = panel.connectClient();
    QByteArray line("watch");
    if (deadlineInMs > 0)
        line += " deadline=" + QByteArray::number(remote::monotonicMs() + deadlineInMs);
    line += '\n';
    QCOMPARE(::send(client.get(), line.constData(), size_t(line.size()), MSG_NOSIGNAL), ssize_t(line.size()));
    QThread::msleep(static_cast<unsigned long>(busyMs));
    const QByteArray told = ScriptedPanel::linesFrom(client).join('\n');
    QVERIFY2(told.startsWith(begins), told.constData());
    QCOMPARE(panel.server.watcherCount(), watchers);
}

void TestScripting::wrongRequestsAreRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("reply"); // how it begins

    const QByteArray request("error request ");
    QTest::newRow("unknown") << QByteArray("hello\n") << request;
    QTest::newRow("one digit") << QByteArray("select 7\n") << request;
    QTest::newRow("CR LF") << QByteArray("status\r\n") << request;
    QTest::newRow("empty line") << QByteArray("\n") << request;
    QTest::newRow("NUL and high bytes") << QByteArray("sel\0ect \xff\n", 11) << request;
    QTest::newRow("255 bytes and LF") << QByteArray(255, 'a') + '\n' << request;
    QTest::newRow("256 bytes, no LF") << QByteArray(256, 'a')
                                      << QByteArray("error request the request is longer than 256 bytes\n");
    QTest::newRow("a megabyte") << QByteArray(1 << 20, 's')
                                << QByteArray("error request the request is longer than 256 bytes\n");
    // One request a connection: what follows its line is not read.
    QTest::newRow("two requests") << QByteArray("select 03\nselect 04\n") << QByteArray("ok\n");
}

void TestScripting::wrongRequestsAreRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, reply);
    ScriptedPanel panel;
    panel.startServing();
    const QByteArray answer = panel.exchange(bytes);
    QVERIFY2(answer.startsWith(reply), answer.constData());
    QCOMPARE(answer.count('\n'), 1);
    QCOMPARE(panel.com1.readAll(), reply == "ok\n" ? commands({3}) : QByteArray());
    QCOMPARE(panel.ask("status").left(3), QByteArray("ok ")); // and the next is served
}

void TestScripting::tenClientsAtOnce()
{
    ScriptedPanel panel;
    panel.startServing();
    std::vector<UniqueFd> clients;
    for (int i = 0; i < 10; ++i)
        clients.push_back(panel.connectClient());
    for (int i = 0; i < 10; ++i) {
        const QByteArray line = i % 2 ? QByteArray("status\n")
                                      : QStringLiteral("select %1\n").arg(i, 2, 10, QLatin1Char('0')).toLatin1();
        QCOMPARE(::send(clients[std::size_t(i)].get(), line.constData(), size_t(line.size()), MSG_NOSIGNAL),
                 ssize_t(line.size()));
    }

    const QList<QByteArray> replies = ScriptedPanel::repliesTo(clients);
    for (int i = 0; i < 10; ++i)
        QVERIFY2(i % 2 ? replies[i].startsWith("ok {\"bank\":20,") : replies[i] == "ok\n", replies[i].constData());
    QByteArray wire = panel.com1.readAll();
    QCOMPARE(wire.size(), 5 * 5);
    for (int channel : {0, 2, 4, 6, 8})
        QVERIFY(wire.contains(commands({channel})));
    QCOMPARE(panel.server.clientCount(), 0);
}

void TestScripting::silentClientsNeitherStallNorStay()
{
    ScriptedPanel panel;
    panel.startServing();
    // Long enough that a loaded machine does not end the wait before the checks below.
    panel.server.setRequestTimeout(5000);
    std::vector<UniqueFd> silent;
    for (int i = 0; i < ControlServer::kMaxClients; ++i)
        silent.push_back(panel.connectClient());
    QCOMPARE(::send(silent.front().get(), "sele", 4, MSG_NOSIGNAL), ssize_t(4)); // half a line, and no more
    QTRY_COMPARE(panel.server.clientCount(), ControlServer::kMaxClients);

    // One more is turned away at once; the window goes on working meanwhile.
    QCOMPARE(panel.exchange("status\n"), QByteArray("error busy too many clients at once; try again\n"));
    panel.click(3);
    QCOMPARE(panel.com1.readAll(), commands({3}));
    for (const UniqueFd &client : silent)
        QVERIFY(ScriptedPanel::waiting(client));

    // Each silent one is answered and closed once its time is up, and the next client is served.
    const QList<QByteArray> replies = ScriptedPanel::repliesTo(silent);
    for (const QByteArray &reply : replies)
        QCOMPARE(reply, QByteArray("error timeout no whole request line came in time\n"));
    QTRY_COMPARE(panel.server.clientCount(), 0);
    QCOMPARE(panel.ask("select 04"), QByteArray("ok\n"));
    QCOMPARE(panel.com1.readAll(), commands({4}));
    QCOMPARE(panel.messages.count(), 0);
}

void TestScripting::socketIsTheUsersAlone()
{
    ScriptedPanel panel;
    panel.startServing();
    QVERIFY(panel.socketPath().startsWith(panel.runtime.path() + QLatin1Char('/')));
    struct stat status
    { };
    QCOMPARE(::stat(QFile::encodeName(panel.socketPath()).constData(), &status), 0);
    QVERIFY(S_ISSOCK(status.st_mode));
    QCOMPARE(status.st_mode & 07777, mode_t(0600));
    QCOMPARE(status.st_uid, ::geteuid());
    QCOMPARE(::stat(QFile::encodeName(panel.runtime.path()).constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0700));
    // No lock is left once it listens.
    QVERIFY(!QFile::exists(panel.socketPath() + QStringLiteral(".lock")));
}

void TestScripting::leftoversOfAKilledPanelAreTakenOver_data()
{
    QTest::addColumn<bool>("socketLeft");
    QTest::addColumn<bool>("lockLeft");
    QTest::newRow("socket") << true << false;
    QTest::newRow("socket and lock") << true << true;
}

void TestScripting::leftoversOfAKilledPanelAreTakenOver()
{
    QFETCH(bool, socketLeft);
    QFETCH(bool, lockLeft);
    ScriptedPanel panel;
    const QByteArray path = QFile::encodeName(panel.socketPath());
    if (socketLeft) {
        // Bound, then closed without a word: what a killed panel leaves.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
    }
    if (lockLeft) {
        // A lock whose holder has ended.
        QFile lock(QFile::decodeName(path) + QStringLiteral(".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write("2147483646\nqueltor\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    }
    QCOMPARE(askPanel(panel.socketPath(), "status\n", 1000).outcome, PanelAnswer::Outcome::NoPanel);
    panel.startServing();
    QCOMPARE(panel.ask("select 05"), QByteArray("ok\n"));
    QCOMPARE(panel.com1.readAll(), commands({5}));
}

void TestScripting::panelsOfDifferentSettingsFilesDoNotMeet()
{
    ScriptedPanel panel;
    panel.startServing();
    const QString home = panel.config.path();
    QTemporaryDir otherHome;
    QCOMPARE(panelSocketPath(home + QStringLiteral("/QUELTOR/QUELTOR.conf")), panel.socketPath());
    QVERIFY(QFile::link(home, otherHome.filePath(QStringLiteral("link"))));
    QCOMPARE(panelSocketPath(otherHome.filePath(QStringLiteral("link/QUELTOR/QUELTOR.conf"))), panel.socketPath());
    const QString other = panelSocketPath(otherHome.filePath(QStringLiteral("QUELTOR/QUELTOR.conf")));
    QVERIFY(other != panel.socketPath());

    // A panel of another config home starts as a panel of its own.
    ControlServer second;
    QCOMPARE(second.start(other), ControlServer::Outcome::Serving);
    QCOMPARE(panel.ask("status").left(3), QByteArray("ok "));
}

void TestScripting::socketPathTooLongIsRefusedNotCut()
{
    QTemporaryDir runtime;
    const QString path = runtime.filePath(QString(120, QLatin1Char('s')));
    const PanelAnswer asked = askPanel(path, "status\n", 1000);
    QCOMPARE(asked.outcome, PanelAnswer::Outcome::Failed);
    QVERIFY2(asked.why.contains(QStringLiteral("longer than the 107 bytes")), qPrintable(asked.why));
    QString why;
    ControlServer server;
    QCOMPARE(server.start(path, &why), ControlServer::Outcome::Unavailable);
    QCOMPARE(why, asked.why);
    // Nothing was made under a shorter name.
    QVERIFY(QDir(runtime.path()).isEmpty(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot));
}

QTEST_MAIN(TestScripting)
#include "test_scripting.moc"
