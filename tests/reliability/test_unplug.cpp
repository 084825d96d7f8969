// The device is pulled out mid-scan and later comes back at the same path: the
// scan stops before the one message, the status bar says the panel waits, a
// click meanwhile is refused as before and nothing of it is kept, and the panel
// reconnects by itself, with no menu action, once the path leads to a device.
#include "clocks.h"
#include "panel.h"

#include "lock_files.h"
#include "shell/controls.h"

#include <QFile>
#include <QMenu>

using namespace queltor;

class TestUnplug : public QObject
{
    Q_OBJECT
private slots:
    void unplugMidScanThenReplugAtSamePath_data();
    void unplugMidScanThenReplugAtSamePath();
};

void TestUnplug::unplugMidScanThenReplugAtSamePath_data()
{
    QTest::addColumn<bool>("hangUp"); // the pty closes, as a pulled adapter hangs up; else only its path goes
    QTest::newRow("pulled") << true;
    QTest::newRow("path removed") << false;
}

void TestUnplug::unplugMidScanThenReplugAtSamePath()
{
    QFETCH(bool, hangUp);
    Panel panel;
    const QString link = panel.config.path() + QStringLiteral("/ttyDEVICE");
    QVERIFY(pointLink(link, panel.com1.slavePath()));
    panel.config.mapPort(1, link);
    panel.start();
    QCOMPARE(panel.messages.count(), 0);
    auto *status = panel.child<LinkStatusLabel>(QStringLiteral("lblLink"));
    QCOMPARE(status->fullText(), QStringLiteral("COM1 · %1 · connected").arg(link));
    const QString lock = lockFileOf(link);
    QVERIFY2(QFile::exists(lock), qPrintable(lock));

    panel.chooseAuto();
    panel.setUp(0, 19, QStringLiteral("0.005"));
    QPushButton *startStop = panel.startStop();
    panel.pressStartStop();
    QCOMPARE(panel.com1.read(15, 2000), commands({0, 1, 2}));

    // Pulled out.
    QFile::remove(link);
    if (hangUp)
        panel.com1.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(panel.messages.count(), 1, 5000);
    // Whether a tick's write or the link saw it first, the same end and one message.
    QCOMPARE(panel.messages.boxes().first().title, QStringLiteral("QUELTOR"));
    QCOMPARE(panel.messages.boxes().first().icon, QMessageBox::Warning);
    QVERIFY2(panel.messages.lastText().startsWith(QStringLiteral("COM1 (%1) ").arg(link))
                 && panel.messages.lastText().endsWith(QStringLiteral(
                     "the device has gone away. The panel reconnects by itself when the device is back.")),
             qPrintable(panel.messages.lastText()));
    QCOMPARE(startStop->text(), QStringLiteral("Start Scan"));
    QVERIFY(!panel.timer()->isActive());
    QCOMPARE(status->fullText(),
             QStringLiteral("COM1 · %1 · not connected: unplugged; reconnects when it is back").arg(link));
    QVERIFY(!panel.window->port().portOpen());
    QVERIFY(!QFile::exists(lock));
    QVERIFY(panel.window->isVisible());
    const QString shown = panel.display()->text();

    // Waiting must not keep the loop busy: the panel idles while nothing happens.
    const std::int64_t cpuBefore = cpuNs();
    QElapsedTimer idle;
    idle.start();
    QTest::qWait(500);
    const double cpuShare = double(cpuNs() - cpuBefore) / 1e6 / double(idle.elapsed());
    QVERIFY2(cpuShare < 0.25, qPrintable(QString::number(cpuShare)));
    QCOMPARE(panel.messages.count(), 1);

    // A click while it waits says why, the display stays put, and nothing is kept for later.
    panel.chooseManual();
    panel.click(5);
    QCOMPARE(panel.messages.count(), 2);
    QCOMPARE(panel.messages.lastText(),
             QStringLiteral("COM1 (%1) could not be written to: the device has gone away. The panel reconnects by "
                            "itself when the device is back.")
                 .arg(link));
    QCOMPARE(panel.display()->text(), shown);

    // Back at the same path, a different device behind it: connected with no menu action.
    Pty replugged;
    QVERIFY(replugged.isValid());
    QVERIFY(pointLink(link, replugged.slavePath()));
    QTRY_COMPARE(status->fullText(), QStringLiteral("COM1 · %1 · connected").arg(link));
    QVERIFY(panel.window->port().portOpen());
    QVERIFY(panel.action(QStringLiteral("mnuCom1"))->isChecked());
    QCOMPARE(replugged.readAll(), QByteArray()); // the refused click stayed refused

    panel.click(7);
    QCOMPARE(replugged.readAll(), commands({7}));
    QCOMPARE(panel.display()->text(), QStringLiteral("07"));
    QCOMPARE(panel.messages.count(), 2);

    // Connected and idle, nothing wakes the panel but the wait's own start and end.
    panel.messages.pause();
    const int wakeUps = wakeUpsWhileIdle(1000);
    QVERIFY2(wakeUps <= 2, qPrintable(QString::number(wakeUps)));
}

QTEST_MAIN(TestUnplug)
#include "test_unplug.moc"
