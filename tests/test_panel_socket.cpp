// Both clients asking the panel, the blocking askPanel and the event-driven
// PanelRequest, against a stand-in panel on a real socket: every request
// carries a deadline, and "timeout" comes back only when the panel can no
// longer start on the request; when it started but did not say how it ended,
// the outcome is "unknown".
#include "remote/panel_request.h"
#include "remote/panel_socket.h"
#include "remote/protocol.h"

#include "stand_in_panel.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

using namespace queltor;
using Outcome = PanelAnswer::Outcome;

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
    QTest::addColumn<bool>("blocking"); // askPanel, else PanelRequest
    QTest::addColumn<StandInPanel::Act>("act");
    QTest::addColumn<Outcome>("outcome");

    for (const bool blocking : {true, false}) {
        const QString client = blocking ? QStringLiteral("askPanel: ") : QStringLiteral("PanelRequest: ");
        // The name itself, not a pointer into text that is gone before newRow() reads it.
        const auto row = [&client](const char *name) { return (client + QLatin1String(name)).toLocal8Bit(); };
        QTest::newRow(row("taken and answered").constData())
            << blocking << StandInPanel::Act::Answer << Outcome::Answered;
        QTest::newRow(row("refused before it was taken").constData())
            << blocking << StandInPanel::Act::RefuseUntaken << Outcome::Answered;
        QTest::newRow(row("taken, then no reply").constData())
            << blocking << StandInPanel::Act::TakeThenClose << Outcome::Unknown;
        // Given up: the panel's "taken" no longer goes, so it cannot start late.
        QTest::newRow(row("not taken before the deadline").constData())
            << blocking << StandInPanel::Act::TakeAfterTimeout << Outcome::Silent;
    }
}

void TestPanelSocket::outcomeTellsWhetherItWasDone()
{
    QFETCH(bool, blocking);
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
        if (blocking) {
            answer = askPanel(path, "select 07\n", kTimeoutMs);
        } else {
            PanelRequest request(path, *remote::parseRequest("select 07"), kTimeoutMs);
            int answers = 0;
            connect(&request, &PanelRequest::answered, this, [&](const PanelAnswer &got) {
                answer = got;
                ++answers;
            });
            QTRY_COMPARE_WITH_TIMEOUT(answers, 1, 20000);
        }
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
