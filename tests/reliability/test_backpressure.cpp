// A scan at the shortest term into a device that has stopped reading: the line
// fills, and the panel must stay responsive, keep its memory, fail the write
// that no longer fits instead of queueing it, and never show a channel the
// device was not sent.
#include "panel.h"
#include "reliability.h"

using namespace queltor;

namespace {

// The shortest term over every channel of the largest bank.
void startFastScan(const Panel &panel)
{
    panel.chooseAuto();
    panel.setUp(0, 99, QStringLiteral("0.001"));
    panel.pressStartStop();
}

} // namespace

class TestBackpressure : public QObject
{
    Q_OBJECT
private slots:
    void stalledDeviceFailsTheWriteAndQueuesNothing();
};

void TestBackpressure::stalledDeviceFailsTheWriteAndQueuesNothing()
{
    Panel panel;
    panel.start();
    panel.choose(QStringLiteral("mnuChNum(9)"));
    QCOMPARE(panel.messages.count(), 0);

    // Warm-up with the device reading: one pass over every channel, so that what
    // the window allocates once is allocated before memory is measured.
    startFastScan(panel);
    QByteArray warmUp;
    QVERIFY(reliability::runUntil(
        [&] {
            panel.com1.drainInto(warmUp);
            return warmUp.size() >= 5 * 120;
        },
        20000));
    panel.pressStartStop();
    QCOMPARE(panel.startStop()->text(), QStringLiteral("Start Scan"));
    panel.com1.readAll(100);

    reliability::Heartbeat heartbeat;
    const long long before = reliability::residentBytes();
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    startFastScan(panel);
    QCOMPARE(panel.window->scan().intervalMs(), 1);
    QVERIFY(panel.timer()->isActive());

    // Nobody reads the master from here on: the line holds about 20 KB, four
    // seconds of ticks.
    long long stalledPeak = before; // while the scan runs: the box allocates its own, once
    QVERIFY(reliability::runUntil(
        [&] {
            if (panel.window->scan().started())
                stalledPeak = std::max(stalledPeak, reliability::residentBytes());
            return panel.messages.count() > 0;
        },
        40000));
    const qint64 fillMs = clock.elapsed();
    // The loop goes on after the box: nothing keeps retrying.
    reliability::runUntil([] { return false; }, 300);
    heartbeat.stop();
    QCOMPARE(panel.messages.count(), 1);

    const MessageCatcher::Box box = panel.messages.boxes().first();
    QCOMPARE(box.title, QStringLiteral("QUELTOR"));
    QCOMPARE(box.text,
             QStringLiteral("COM1 (%1) could not be written to: the device is not accepting data.")
                 .arg(panel.com1.slavePath()));
    QCOMPARE(panel.startStop()->text(), QStringLiteral("Start Scan"));
    QVERIFY(!panel.timer()->isActive());
    QVERIFY(!panel.window->scan().started());

    // What the device finds once it reads again: whole commands in scan order,
    // and the last of them is what the display shows.
    const QByteArray wire = panel.com1.readAll(300);
    const int accepted = int(wire.size() / 5);
    QVERIFY(accepted > 0);
    QCOMPARE(wire.size() % 5, 0);
    for (int i = 0; i < accepted; ++i) {
        if (wire.mid(5 * i, 5) != commands({i % 100}))
            QFAIL(qPrintable(QStringLiteral("command %1 on the wire is %2, not %3")
                                 .arg(i)
                                 .arg(QString::fromLatin1(wire.mid(5 * i, 5).toPercentEncoding()),
                                      QString::fromLatin1(commands({i % 100}).toPercentEncoding()))));
    }
    const int last = (accepted - 1) % 100;
    QCOMPARE(panel.display()->text(), QStringLiteral("%1").arg(last, 2, 10, QLatin1Char('0')));
    QCOMPARE(panel.boldButtons(), QList<int>{last});

    qInfo("%d commands accepted (%lld bytes) in %lld ms before the write failed; longest event-loop stall "
          "%lld ms, %lld ms of it the panel's own, over %d heartbeats (at most %lld ms stolen by the host between "
          "two); resident growth %+lld KB until the failure, %+lld KB with the message box",
          accepted, static_cast<long long>(wire.size()), fillMs, heartbeat.longestGapMs(), heartbeat.longestOwnGapMs(),
          heartbeat.ticks(), heartbeat.longestStolenMs(), (stalledPeak - before) / 1024,
          (heartbeat.peakResident() - before) / 1024);
    QVERIFY2(heartbeat.longestOwnGapMs() <= 100, qPrintable(QString::number(heartbeat.longestOwnGapMs())));
    QVERIFY(heartbeat.ticks() > 0);
    // What the system held is all there is: the refused command is not kept for later.
    QCOMPARE(panel.com1.readAll(300), QByteArray());
    if (reliability::kResidentSizeMeaningful)
        QVERIFY2(stalledPeak - before < 256 * 1024, qPrintable(QString::number(stalledPeak - before)));

    // The device reads again: the next scan starts clean, nothing of the refused command ahead of it.
    startFastScan(panel);
    QCOMPARE(panel.com1.read(10, 2000), commands({0, 1}));
    panel.pressStartStop();
    QCOMPARE(panel.messages.count(), 1);
}

QTEST_MAIN(TestBackpressure)
#include "test_backpressure.moc"
