// Set > Serial Port and Help > About in the real window.
#include "panel.h"

#include "shell/about_box.h"

#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>

#include <functional>

using namespace queltor;

namespace {
const QString kSettings = QStringLiteral("Settings");
const QString kComPort = QStringLiteral("ComPort");

// Runs check on the About box while it is open (its exec() blocks the caller),
// then closes it with the given key, or with OK when key is 0.
void whileAboutIsOpen(Panel &panel, const std::function<void(frmAbout *)> &check, int key = 0)
{
    bool checked = false;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<frmAbout *>(QApplication::activeModalWidget()));
        auto *about = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
        check(about);
        checked = true;
        if (key)
            QTest::keyClick(about, static_cast<Qt::Key>(key));
        else
            QTest::mouseClick(about->findChild<QPushButton *>(QStringLiteral("cmdOK")), Qt::LeftButton);
    });
    panel.choose(QStringLiteral("mnuAbout"));
    QVERIFY(checked);
}
} // namespace

class TestPortAbout : public QObject
{
    Q_OBJECT
private slots:
    void choosingAnotherPortMovesTheLink();
    void choosingTheSamePortReopensAndSavesAgain();
    void missingPortIsSavedMarkedAndReported();
    void portMenusAreLockedDuringScan();

    void aboutShowsTitleVersionAndIcon();
    void aboutClosesWithEnterEscAndOk();
    void scanGoesOnWhileAboutIsOpen();
};

void TestPortAbout::choosingAnotherPortMovesTheLink()
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

void TestPortAbout::choosingTheSamePortReopensAndSavesAgain()
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

void TestPortAbout::missingPortIsSavedMarkedAndReported()
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

    // The next selection reports its failed write, and the panel lives on.
    panel.click(5);
    QCOMPARE(panel.messages.count(), 2);
    QVERIFY2(panel.messages.lastText().contains(QStringLiteral("COM2")), qPrintable(panel.messages.lastText()));
    QCOMPARE(panel.display()->text(), QStringLiteral("00"));
    QVERIFY(panel.window->isVisible());
    QCOMPARE(panel.com1.readAll(), QByteArray());

    // Back on COM1 all is well; closing the already closed port was silent.
    panel.choose(QStringLiteral("mnuCom1"));
    QCOMPARE(panel.messages.count(), 2);
    panel.click(5);
    QCOMPARE(panel.com1.readAll(), QByteArray("V05\r\n"));
}

void TestPortAbout::portMenusAreLockedDuringScan()
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

void TestPortAbout::aboutShowsTitleVersionAndIcon()
{
    Panel panel;
    panel.start();
    whileAboutIsOpen(panel, [&](frmAbout *about) {
        QVERIFY(about->isModal());
        QCOMPARE(about->windowTitle(), QStringLiteral("About QUELTOR"));
        QCOMPARE(about->size(), QSize(2550 / 15, 1245 / 15));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("lblTitle"))->text(), QStringLiteral("QUELTOR Demo"));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("lblVersion"))->text(), QStringLiteral("Version 1.0.0"));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("lblTitle"))->pos(), QPoint(720 / 15, 150 / 15));
        QCOMPARE(about->findChild<QPushButton *>(QStringLiteral("cmdOK"))->geometry(), QRect(46, 54, 79, 23));
        QCOMPARE(about->findChild<QPushButton *>(QStringLiteral("cmdOK"))->text(), QStringLiteral("OK"));
        const QLabel *image = about->findChild<QLabel *>(QStringLiteral("Image1"));
        QCOMPARE(image->geometry(), QRect(10, 6, 32, 32));
        QCOMPARE(image->pixmap().size(), QSize(32, 32));
        // Centred over the main window.
        const QPoint offset = about->frameGeometry().center() - panel.window->frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 4, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
        // The separator is drawn: grey over white, between the texts and the button.
        const QImage shot = about->grab().toImage();
        QCOMPARE(shot.pixelColor(85, 46), QColor(128, 128, 128));
        QCOMPARE(shot.pixelColor(85, 47), QColor(Qt::white));
    });
}

void TestPortAbout::aboutClosesWithEnterEscAndOk()
{
    Panel panel;
    panel.start();
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Escape), 0}) {
        frmAbout *shown = nullptr;
        whileAboutIsOpen(
            panel, [&](frmAbout *about) { shown = about; }, key);
        QVERIFY(shown);
        // Closed and destroyed: the next Help > About builds a new one.
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(panel.window->findChildren<frmAbout *>().isEmpty());
    }
}

void TestPortAbout::scanGoesOnWhileAboutIsOpen()
{
    Panel panel;
    panel.start();
    QTest::mouseClick(panel.child<QRadioButton>(QStringLiteral("optAuto")), Qt::LeftButton);
    panel.child<QComboBox>(QStringLiteral("cboStart"))->setCurrentIndex(4);
    panel.child<QComboBox>(QStringLiteral("cboEnd"))->setCurrentIndex(6);
    panel.child<QLineEdit>(QStringLiteral("txtTerm"))->setText(QStringLiteral("0.02"));
    QTest::mouseClick(panel.child<QPushButton>(QStringLiteral("cmdAuto")), Qt::LeftButton);
    QByteArray whileOpen;
    whileAboutIsOpen(panel, [&](frmAbout *) { whileOpen = panel.com1.read(20, 1000); });
    QCOMPARE(whileOpen, QByteArray("V04\r\nV05\r\nV06\r\nV04\r\n"));
}

QTEST_MAIN(TestPortAbout)
#include "test_port_about.moc"
