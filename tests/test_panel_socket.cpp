// Both clients asking the panel, the blocking askPanel and the event-driven
// PanelCall, against a stand-in panel on a real socket: every request
// carries a deadline, and "timeout" comes back only when the panel can no
// longer start on the request; when it started but did not say how it ended,
// the outcome is "unknown".
#include "remote/panel_call.h"
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
    QTest::addColumn<bool>("blocking"); // askPanel, else PanelCall
    QTest::addColumn<StandInPanel::Act>("act");
    QTest::addColumn<Outcome>("outcome");

    for (const bool blocking : {true, false}) {
        const char *client = blocking ? "askPanel" : "PanelCall";
        // addRow copies the name at once; a name built in place would be gone by then.
        const auto row = [client](const char *name) -> QTestData & { return QTest::addRow("%s: %s", client, name); };
        row("taken and answered") << blocking << StandInPanel::Act::Answer << Outcome::Answered;
        row("refused before it was taken") << blocking << StandInPanel::Act::RefuseUntaken << Outcome::Answered;
        row("taken, then no reply") << blocking << StandInPanel::Act::TakeThenClose << Outcome::Unknown;
        // Given up: the panel's "taken" no longer goes, so it cannot start late.
        row("not taken before the deadline") << blocking << StandInPanel::Act::TakeAfterTimeout << Outcome::Silent;
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
            PanelCall request(path, *remote::parseRequest("select 07"), kTimeoutMs);
            int answers = 0;
            connect(&request, &PanelCall::answered, this, [&](const PanelAnswer &got) {
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
