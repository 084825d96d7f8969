// Help > About in the real window: what the box shows, how it closes, and
// that the panel goes on working under it.
#include "panel.h"

#include "shell/about_box.h"

#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>

using namespace queltor;

namespace {

// Help > About, and the box it opened; the panel's own loop goes on meanwhile.
frmAbout *openAbout(Panel &panel)
{
    panel.choose(QStringLiteral("mnuAbout"));
    return qobject_cast<frmAbout *>(QApplication::activeModalWidget());
}

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT
private slots:
    void aboutShowsTitleVersionAndIcon();
    void aboutClosesWithEnterEscAndOk_data();
    void aboutClosesWithEnterEscAndOk();
    void scanGoesOnWhileAboutIsOpen();
};

void TestAboutBox::aboutShowsTitleVersionAndIcon()
{
    Panel panel;
    panel.start();
    frmAbout *about = openAbout(panel);
    QVERIFY(about);
    // Modal: the main window takes no input meanwhile.
    QCOMPARE(about->windowModality(), Qt::ApplicationModal);
    QCOMPARE(about->windowTitle(), QStringLiteral("About QUELTOR"));
    // The icon is in the box, not on its title bar: it has no window icon of its own nor the window's.
    QVERIFY(about->windowIcon().isNull());
    QVERIFY(!panel.window->windowIcon().isNull());
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
}

void TestAboutBox::aboutClosesWithEnterEscAndOk_data()
{
    QTest::addColumn<int>("key"); // 0: a click on OK
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Esc") << int(Qt::Key_Escape);
    QTest::newRow("OK") << 0;
}

void TestAboutBox::aboutClosesWithEnterEscAndOk()
{
    QFETCH(int, key);
    Panel panel;
    panel.start();
    for (int showing = 0; showing < 2; ++showing) {
        const QPointer<frmAbout> about = openAbout(panel);
        QVERIFY(about);
        if (key)
            QTest::keyClick(about, static_cast<Qt::Key>(key));
        else
            QTest::mouseClick(about->findChild<QPushButton *>(QStringLiteral("cmdOK")), Qt::LeftButton);
        // Closed and destroyed: the next Help > About builds a new one.
        QTRY_VERIFY(about.isNull());
        QVERIFY(!QApplication::activeModalWidget());
    }
}

void TestAboutBox::scanGoesOnWhileAboutIsOpen()
{
    Panel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(4, 6, QStringLiteral("0.02"));
    panel.pressStartStop();
    const QPointer<frmAbout> about = openAbout(panel);
    QVERIFY(about);
    QCOMPARE(panel.com1.read(20, 1000), QByteArray("V04\r\nV05\r\nV06\r\nV04\r\n"));
    QVERIFY(about && about->isVisible());
}

QTEST_MAIN(TestAboutBox)
#include "test_about_box.moc"
