// The link on its own: what it announces when the device goes and comes back,
// that it reopens the same path by itself, and that it costs nothing while
// connected and idle.
#include "link/failure.h"
#include "link/link.h"
#include "link/settings_store.h"

#include "clocks.h"
#include "failure_of.h"
#include "lock_files.h"
#include "pseudo_tty.h"
#include "temp_config.h"

#include <QAbstractEventDispatcher>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace queltor;

namespace {

const QByteArray kCommand("V07\r\n");

// The timers an object and everything it owns have running.
QList<QAbstractEventDispatcher::TimerInfo> timersOf(QObject *object)
{
    QList<QAbstractEventDispatcher::TimerInfo> timers = QAbstractEventDispatcher::instance()->registeredTimers(object);
    for (QObject *child : object->findChildren<QObject *>())
        timers += QAbstractEventDispatcher::instance()->registeredTimers(child);
    return timers;
}

// COM1 mapped to a link in the config home that leads to a pty, as a by-id link leads to a device.
struct LinkOnPty
{
    TempConfig config;
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    QString path = config.path() + QStringLiteral("/ttyDEVICE");
    SettingsStore store;
    Link link{store};
    QSignalSpy failed{&link, &Link::failed};

    LinkOnPty()
    {
        pointLink(path, pty->slavePath());
        config.mapPort(1, path);
    }
};

} // namespace

class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void goneDeviceIsWaitedForAndReopened_data();
    void goneDeviceIsWaitedForAndReopened();
    void missingDeviceIsWaitedFor();
    void writeToRefusedPortSaysWhy_data();
    void writeToRefusedPortSaysWhy();
    void connectedAndIdleArmsNothing();
};

void TestLink::goneDeviceIsWaitedForAndReopened_data()
{
    QTest::addColumn<bool>("hangUp");  // the device's pty closes, as a pulled adapter hangs up
    QTest::addColumn<bool>("byWrite"); // a write is the first to find out

    QTest::newRow("hang-up") << true << false;
    QTest::newRow("path removed, device still open") << false << false;
    QTest::newRow("hang-up found by a write") << true << true;
}

void TestLink::goneDeviceIsWaitedForAndReopened()
{
    QFETCH(bool, hangUp);
    QFETCH(bool, byWrite);
    LinkOnPty on;
    on.link.setPortOpen(true);
    QCOMPARE(on.link.state().kind, LinkState::Kind::Connected);
    QCOMPARE(on.link.state().text(), QStringLiteral("COM1 · %1 · connected").arg(on.path));
    const QString lock = lockFileOf(on.pty->slavePath());
    QVERIFY2(QFile::exists(lock), qPrintable(lock));

    QFile::remove(on.path);
    if (hangUp)
        on.pty->closeMaster();
    const QString gone = QStringLiteral("COM1 (%1) could not be written to: the device has gone away. The panel "
                                        "reconnects by itself when the device is back.")
                             .arg(on.path);
    if (byWrite)
        QCOMPARE(failureOf([&] { on.link.output(kCommand); }), gone);
    QTRY_COMPARE(on.link.state().kind, LinkState::Kind::Waiting);
    QCOMPARE(on.link.state().text(),
             QStringLiteral("COM1 · %1 · not connected: unplugged; reconnects when it is back").arg(on.path));
    // Closed at once: another program may have the port.
    QVERIFY(!on.link.portOpen());
    QVERIFY(!QFile::exists(lock));
    // Told once: by the write's error, or else by the link itself.
    QCOMPARE(on.failed.size(), byWrite ? 0 : 1);
    if (!byWrite) {
        const Failure lost = on.failed.constFirst().at(0).value<Failure>();
        QCOMPARE(lost.text(),
                 QStringLiteral("COM1 (%1) was closed: the device has gone away. The panel "
                                "reconnects by itself when the device is back.")
                     .arg(on.path));
        QCOMPARE(lost.kind, Failure::Kind::Port);
    }

    // A write while waiting fails as the first did, and nothing of it is kept for later.
    QCOMPARE(failureOf([&] { on.link.output("V01\r\n"); }), gone);

    Pty back;
    QVERIFY(pointLink(on.path, back.slavePath()));
    QTRY_COMPARE(on.link.state().kind, LinkState::Kind::Connected);
    QCOMPARE(on.link.state().text(), QStringLiteral("COM1 · %1 · connected").arg(on.path));
    on.link.output(kCommand);
    QCOMPARE(back.readAll(), kCommand);
    QCOMPARE(on.failed.size(), byWrite ? 0 : 1);
}

void TestLink::missingDeviceIsWaitedFor()
{
    LinkOnPty on;
    QFile::remove(on.path);
    QCOMPARE(failureOf([&] { on.link.setPortOpen(true); }),
             QStringLiteral("COM1 (%1) could not be opened: the device does not exist. Plug the "
                            "device in, or choose it with Set > Serial Port > Choose Device.")
                 .arg(on.path));
    QCOMPARE(on.link.state().text(),
             QStringLiteral("COM1 · %1 · not connected: the device does not exist; connects when it is plugged in")
                 .arg(on.path));
    QCOMPARE(on.failed.size(), 0);
    // While waiting it looks at most twice a second.
    const QList<QAbstractEventDispatcher::TimerInfo> timers = timersOf(&on.link);
    QCOMPARE(timers.size(), 1);
    QVERIFY(timers.first().interval >= 500);

    QVERIFY(pointLink(on.path, on.pty->slavePath()));
    QTRY_COMPARE(on.link.state().kind, LinkState::Kind::Connected);
    on.link.output(kCommand);
    QCOMPARE(on.pty->readAll(), kCommand);
}

void TestLink::writeToRefusedPortSaysWhy_data()
{
    QTest::addColumn<bool>("held"); // by another link, as by a second panel; else the device is missing
    QTest::newRow("in use") << true;
    QTest::newRow("missing") << false;
}

// The write gives the reason the open was refused, not only that the port is closed.
void TestLink::writeToRefusedPortSaysWhy()
{
    QFETCH(bool, held);
    LinkOnPty on;
    Link other(on.store);
    if (held)
        other.setPortOpen(true);
    else
        QFile::remove(on.path);
    const QString reason = held ? QStringLiteral("in use by %1 (PID %2)")
                                      .arg(QFileInfo(QCoreApplication::arguments().constFirst()).fileName())
                                      .arg(QCoreApplication::applicationPid())
                                : QStringLiteral("the device does not exist");
    QVERIFY(!failureOf([&] { on.link.setPortOpen(true); }).isEmpty());
    QCOMPARE(failureOf([&] { on.link.output(kCommand); }),
             QStringLiteral("COM1 (%1) could not be written to: the port is not open: %2.").arg(on.path, reason));
    QCOMPARE(on.pty->readAll(), QByteArray());
}

void TestLink::connectedAndIdleArmsNothing()
{
    LinkOnPty on;
    on.link.setPortOpen(true);
    QCOMPARE(on.link.state().kind, LinkState::Kind::Connected);
    QVERIFY(timersOf(&on.link).isEmpty());

    // Nothing wakes the thread while the link sits connected.
    const int wakeUps = wakeUpsWhileIdle(1000);
    QVERIFY2(wakeUps <= 2, qPrintable(QString::number(wakeUps)));
    QCOMPARE(on.link.state().kind, LinkState::Kind::Connected);
}

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
