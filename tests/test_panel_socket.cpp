// A client asking the panel, against a stand-in panel on a real socket: every
// request carries a deadline, and "timeout" comes back only when the panel can
// no longer start on the request; when it started but did not say how it
// ended, the outcome is "unknown".
#include "remote/local_socket.h"
#include "remote/panel_socket.h"
#include "remote/protocol.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace queltor;
using Outcome = PanelAnswer::Outcome;

namespace {

// Takes one connection and its request line, then does what it is told.
class StandInPanel
{
public:
    enum class Act {
        Answer,           // "taken", then "ok"
        RefuseUntaken,    // "error busy", never started on
        TakeThenClose,    // "taken", then the connection closes
        TakeAfterTimeout, // nothing until the client has given up, then "taken"
    };

    StandInPanel(const QString &path, Act act)
        : m_listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const std::optional<sockaddr_un> address = socketAddress(path);
        if (!address || ::bind(m_listener.get(), reinterpret_cast<const sockaddr *>(&*address), sizeof *address) != 0
            || ::listen(m_listener.get(), 1) != 0)
            qFatal("the stand-in panel cannot listen");
        m_thread = std::thread([this, act] { serve(act); });
    }
    ~StandInPanel() { join(); }

    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    StandInPanel(const StandInPanel &) = delete;
    StandInPanel &operator=(const StandInPanel &) = delete;

    // Once joined: what it read, and why a late "taken" could not go.
    QByteArray request;
    int lateSendError = 0;
    std::atomic<bool> clientDone{false};

private:
    void send(int fd, QByteArrayView bytes) { ::send(fd, bytes.data(), std::size_t(bytes.size()), MSG_NOSIGNAL); }

    void serve(Act act)
    {
        const UniqueFd fd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        char c = 0;
        while (::recv(fd.get(), &c, 1, 0) == 1 && c != '\n')
            request += c;
        switch (act) {
        case Act::Answer:
            send(fd.get(), "taken\nok\n");
            break;
        case Act::RefuseUntaken:
            send(fd.get(), "error busy too many clients\n");
            break;
        case Act::TakeThenClose:
            send(fd.get(), "taken\n");
            break;
        case Act::TakeAfterTimeout:
            while (!clientDone)
                QThread::msleep(5);
            if (::send(fd.get(), "taken\n", 6, MSG_NOSIGNAL) < 0)
                lateSendError = errno;
            break;
        }
    }

    UniqueFd m_listener;
    std::thread m_thread;
};

} // namespace

Q_DECLARE_METATYPE(StandInPanel::Act)
Q_DECLARE_METATYPE(Outcome)

class TestPanelSocket : public QObject
{
    Q_OBJECT
private slots:
    void outcomeTellsWhetherItWasDone_data();
    void outcomeTellsWhetherItWasDone();
};

void TestPanelSocket::outcomeTellsWhetherItWasDone_data()
{
    QTest::addColumn<StandInPanel::Act>("act");
    QTest::addColumn<Outcome>("outcome");

    QTest::newRow("taken and answered") << StandInPanel::Act::Answer << Outcome::Answered;
    QTest::newRow("refused before it was taken") << StandInPanel::Act::RefuseUntaken << Outcome::Answered;
    QTest::newRow("taken, then no reply") << StandInPanel::Act::TakeThenClose << Outcome::Unknown;
    // Given up: the panel's "taken" no longer goes, so it cannot start late.
    QTest::newRow("not taken before the deadline") << StandInPanel::Act::TakeAfterTimeout << Outcome::Silent;
}

void TestPanelSocket::outcomeTellsWhetherItWasDone()
{
    QFETCH(StandInPanel::Act, act);
    QFETCH(Outcome, outcome);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("panel.socket"));
    constexpr int kTimeoutMs = 300;

    PanelAnswer answer;
    qint64 asked = 0;
    qint64 elapsed = 0;
    StandInPanel panel(path, act);
    {
        QElapsedTimer clock;
        clock.start();
        asked = remote::monotonicMs();
        answer = askPanel(path, "select 07\n", kTimeoutMs);
        elapsed = clock.elapsed();
        panel.clientDone = true;
    }
    panel.join();
    QCOMPARE(answer.outcome, outcome);
    // Sent with the deadline it was given.
    QVERIFY2(panel.request.startsWith("select 07 deadline="), panel.request.constData());
    const qint64 deadline = panel.request.mid(int(sizeof "select 07 deadline=") - 1).toLongLong();
    QVERIFY(deadline >= asked + kTimeoutMs && deadline <= asked + kTimeoutMs + 1000);
    if (outcome == Outcome::Silent) {
        // Not given up before the deadline.
        QVERIFY2(elapsed >= kTimeoutMs, qPrintable(QString::number(elapsed)));
    }
    if (act == StandInPanel::Act::RefuseUntaken)
        QCOMPARE(answer.reply.code, QByteArray("busy"));
    if (act == StandInPanel::Act::Answer)
        QVERIFY(answer.reply.ok());
    if (act == StandInPanel::Act::TakeAfterTimeout)
        QCOMPARE(panel.lateSendError, EPIPE);
}

QTEST_GUILESS_MAIN(TestPanelSocket)
#include "test_panel_socket.moc"
