// The device is pulled out mid-scan and later comes back at the same path: the
// scan stops with the reason shown, the panel lives on, and choosing the port
// again from the menu puts the next click on the new device.
#include "clocks.h"
#include "panel.h"

#include <QFile>
#include <QMenu>

#include <cstdio>

using namespace queltor;

namespace {

// Points the link at target the way udev would: a new link renamed over the old one.
bool pointLink(const QString &link, const QString &target)
{
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    return QFile::link(target, fresh)
        && ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()) == 0;
}

} // namespace

class TestUnplug : public QObject
{
    Q_OBJECT
private slots:
    void unplugMidScanThenReplugAtSamePath();
};

void TestUnplug::unplugMidScanThenReplugAtSamePath()
{
    Panel panel;
    const QString link = panel.config.path() + QStringLiteral("/ttyDEVICE");
    QVERIFY(pointLink(link, panel.com1.slavePath()));
    panel.config.mapPort(1, link);
    panel.start();
    QCOMPARE(panel.messages.count(), 0);
    QCOMPARE(panel.window->port().deviceName(), link);

    panel.chooseAuto();
    panel.setUp(0, 19, QStringLiteral("0.005"));
    QPushButton *startStop = panel.startStop();
    panel.pressStartStop();
    QCOMPARE(panel.com1.read(15, 2000), commands({0, 1, 2}));

    // Pulled out.
    panel.com1.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(panel.messages.count(), 1, 5000);
    const QString gone = QStringLiteral("COM1 (%1) could not be written to: the device has gone away.").arg(link);
    QCOMPARE(panel.messages.boxes().first().title, QStringLiteral("QUELTOR"));
    QCOMPARE(panel.messages.lastText(), gone);
    QCOMPARE(startStop->text(), QStringLiteral("Start Scan"));
    QVERIFY(!panel.timer()->isActive());
    QVERIFY(panel.window->isVisible());
    const QString shown = panel.display()->text();
    QVERIFY2(shown.toInt() >= 2, qPrintable(shown));

    // A dead port must not keep the loop busy: the panel idles while nothing happens.
    const std::int64_t cpuBefore = cpuNs();
    QElapsedTimer idle;
    idle.start();
    QTest::qWait(500);
    const double cpuShare = double(cpuNs() - cpuBefore) / 1e6 / double(idle.elapsed());
    QVERIFY2(cpuShare < 0.25, qPrintable(QString::number(cpuShare)));
    QCOMPARE(panel.messages.count(), 1);

    // Until the port is chosen again every click says so, and the display stays put.
    panel.chooseManual();
    panel.click(5);
    QCOMPARE(panel.messages.count(), 2);
    QCOMPARE(panel.messages.lastText(), gone);
    QCOMPARE(panel.display()->text(), shown);

    // Back at the same path, but a different device behind it.
    Pty replugged;
    QVERIFY(replugged.isValid());
    QVERIFY(pointLink(link, replugged.slavePath()));
    auto *portMenu = panel.child<QMenu>(QStringLiteral("mnuComm"));
    QVERIFY(portMenu->menuAction()->isEnabled());
    panel.choose(QStringLiteral("mnuCom1"));
    QCOMPARE(panel.messages.count(), 2);
    QVERIFY(panel.window->port().portOpen());
    QVERIFY(panel.action(QStringLiteral("mnuCom1"))->isChecked());

    panel.click(7);
    QCOMPARE(replugged.readAll(), commands({7}));
    QCOMPARE(panel.display()->text(), QStringLiteral("07"));
    QCOMPARE(panel.messages.count(), 2);

    // And a scan runs on it again.
    panel.chooseAuto();
    panel.pressStartStop();
    QCOMPARE(replugged.read(10, 2000), commands({0, 1}));
    panel.pressStartStop();
    QCOMPARE(panel.messages.count(), 2);
}

QTEST_MAIN(TestUnplug)
#include "test_unplug.moc"
