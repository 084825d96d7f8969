// Set > Serial Port in the real window: the link moves, the choice is saved
// and marked, and a port that cannot be opened is told.
#include "panel.h"

#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>

using namespace queltor;

namespace {
const QString kSettings = QStringLiteral("Settings");
const QString kComPort = QStringLiteral("ComPort");
} // namespace

class TestPortChoice : public QObject
{
    Q_OBJECT
private slots:
    void choosingAnotherPortMovesTheLink();
    void choosingTheSamePortReopensAndSavesAgain();
    void missingPortIsSavedMarkedAndReported();
    void portMenusAreLockedDuringScan();
};

void TestPortChoice::choosingAnotherPortMovesTheLink()
{
    Panel panel;
    panel.start();
    panel.click(1);
    panel.choose(QStringLiteral("mnuCom2"));
    panel.click(2);
    panel.choose(QStringLiteral("mnuCom1"));
    panel.click(3);
    QCOMPARE(panel.com1.readAll(), QByteArray("V01\r\nV03\r\n"));
    QCOMPARE(panel.com2.readAll(), QByteArray("V02\r\n"));
    QVERIFY(panel.action(QStringLiteral("mnuCom1"))->isChecked());
    QVERIFY(!panel.action(QStringLiteral("mnuCom2"))->isChecked());
    QCOMPARE(panel.config.value(kSettings, kComPort), QStringLiteral("1"));
    QCOMPARE(panel.messages.count(), 0);
}

void TestPortChoice::choosingTheSamePortReopensAndSavesAgain()
{
    Panel panel;
    panel.start();
    QVERIFY(!panel.config.contains(kSettings, kComPort));
    panel.choose(QStringLiteral("mnuCom1"));
    QCOMPARE(panel.config.value(kSettings, kComPort), QStringLiteral("1"));
    QVERIFY(panel.window->port().portOpen());
    // Clicking a checked entry must not leave it unchecked.
    panel.choose(QStringLiteral("mnuCom1"));
    QVERIFY(panel.action(QStringLiteral("mnuCom1"))->isChecked());
    panel.click(11);
    QCOMPARE(panel.com1.readAll(), QByteArray("V11\r\n"));
    QCOMPARE(panel.messages.count(), 0);
}

void TestPortChoice::missingPortIsSavedMarkedAndReported()
{
    Panel panel;
    const QString missing = panel.config.path() + QStringLiteral("/gone");
    panel.config.mapPort(2, missing);
    panel.start();
    panel.choose(QStringLiteral("mnuCom2"));

    QCOMPARE(panel.config.value(kSettings, kComPort), QStringLiteral("2"));
    QVERIFY(panel.action(QStringLiteral("mnuCom2"))->isChecked());
    QVERIFY(!panel.action(QStringLiteral("mnuCom1"))->isChecked());
    QVERIFY(!panel.window->port().portOpen());
    QCOMPARE(panel.messages.count(), 1);
    QCOMPARE(panel.messages.lastText(),
             QStringLiteral("COM2 (%1) could not be opened: the device does not exist. Plug the device in, or choose "
                            "it with Set > Serial Port > Choose Device.")
                 .arg(missing));

    // The next selection's failed write takes over the box while it is open,
    // has one of its own once it is answered, and the panel lives on.
    const QString notOpen = QStringLiteral(
                                "COM2 (%1) could not be written to: the port is not open: the device does not exist.")
                                .arg(missing);
    panel.click(5);
    QCOMPARE(panel.messages.count(), 1);
    QCOMPARE(panel.messages.lastText(), notOpen);
    QTRY_VERIFY(MessageCatcher::open().isEmpty());
    panel.messages.pause(); // left open from here on
    panel.click(6);
    QCOMPARE(panel.messages.count(), 2);
    QCOMPARE(MessageCatcher::open().size(), 1);
    QCOMPARE(panel.messages.lastText(), notOpen);
    QCOMPARE(panel.display()->text(), QStringLiteral("00"));
    QVERIFY(panel.window->isVisible());
    QCOMPARE(panel.com1.readAll(), QByteArray());

    // Back on COM1 all is well: closing the already closed port was silent,
    // and the box about the port goes as the port connects.
    panel.choose(QStringLiteral("mnuCom1"));
    QVERIFY(MessageCatcher::open().isEmpty());
    QCOMPARE(panel.messages.count(), 2);
    panel.click(5);
    QCOMPARE(panel.com1.readAll(), QByteArray("V05\r\n"));
}

void TestPortChoice::portMenusAreLockedDuringScan()
{
    Panel panel;
    panel.start();
    QTest::mouseClick(panel.child<QRadioButton>(QStringLiteral("optAuto")), Qt::LeftButton);
    panel.child<QLineEdit>(QStringLiteral("txtTerm"))->setText(QStringLiteral("5"));
    QTest::mouseClick(panel.child<QPushButton>(QStringLiteral("cmdAuto")), Qt::LeftButton);
    auto *serialPort = panel.child<QMenu>(QStringLiteral("mnuComm"));
    auto *channelCount = panel.child<QMenu>(QStringLiteral("mnuChannel"));
    auto *chooseDevice = panel.action(QStringLiteral("mnuChooseDevice"));
    QVERIFY(!serialPort->menuAction()->isEnabled());
    QVERIFY(!channelCount->menuAction()->isEnabled());
    QVERIFY(!chooseDevice->isEnabled());
    QTest::mouseClick(panel.child<QPushButton>(QStringLiteral("cmdAuto")), Qt::LeftButton);
    QVERIFY(serialPort->menuAction()->isEnabled());
    QVERIFY(channelCount->menuAction()->isEnabled());
    QVERIFY(chooseDevice->isEnabled());
    // After com1 and com2.
    QCOMPARE(serialPort->actions().indexOf(chooseDevice), 2);
}

QTEST_MAIN(TestPortChoice)
#include "test_port_choice.moc"
